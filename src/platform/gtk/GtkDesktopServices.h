#pragma once

#include <memory>

#include "platform/DesktopServices.h"

namespace quorvel::gtk {

std::unique_ptr<Pasteboard> makeClipboardPasteboard();
std::unique_ptr<Workspace> makeDefaultHandlerWorkspace();
std::unique_ptr<Sound> makeDisplayBeep();

} // namespace quorvel::gtk
