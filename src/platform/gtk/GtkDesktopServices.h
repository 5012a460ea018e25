#pragma once

#include "platform/DesktopServices.h"

#include <memory>

namespace quorvel::gtk {

std::unique_ptr<Pasteboard> makeClipboardPasteboard();
std::unique_ptr<Workspace> makeDefaultHandlerWorkspace();
std::unique_ptr<Sound> makeDisplayBeep();

} // namespace quorvel::gtk
