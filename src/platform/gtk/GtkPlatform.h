#pragma once

#include "platform/Platform.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel::gtk {

// The Linux platform: GTK 3, WebKitGTK, libsoup, D-Bus notifications and an
// application indicator. The arguments are the program's command line, its
// name first.
std::unique_ptr<Platform> makeGtkPlatform(std::vector<std::string> arguments);

} // namespace quorvel::gtk
