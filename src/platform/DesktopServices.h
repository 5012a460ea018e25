#pragma once

#include "platform/Interface.h"

#include <filesystem>
#include <string>

namespace quorvel {

// The clipboard, as plain text.
struct Pasteboard : Interface {
    virtual void clearContents() = 0;
    virtual void setString(const std::string& text) = 0;
};

// Opens files and folders with the desktop's default handler.
struct Workspace : Interface {
    // Returns at once; the outcome is not reported.
    virtual void openFile(const std::filesystem::path& path) = 0;
    // Opens an address (a web page, mailto:) with the desktop's handler for
    // its scheme. Returns at once; the outcome is not reported.
    virtual void openURL(const std::string& url) = 0;
};

// The user's system alert sound.
struct Sound : Interface {
    virtual void beep() = 0;
};

} // namespace quorvel
