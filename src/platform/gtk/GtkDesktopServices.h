#pragma once

#include "platform/DesktopServices.h"

namespace quorvel::gtk {

// The desktop's clipboard, default handlers and alert sound. It keeps no
// state: every call goes to the display or the desktop as it is then.
class GtkDesktopServices final : public Pasteboard, public Workspace, public Sound {
public:
    void clearContents() override;
    void setString(const std::string& text) override;
    void openFile(const std::filesystem::path& path) override;
    void openURL(const std::string& url) override;
    void beep() override;
};

} // namespace quorvel::gtk
