#pragma once

#include <memory>

#include "platform/Platform.h"

namespace quorvel::gtk {

// The Linux platform: GTK 3, WebKitGTK, libsoup, D-Bus notifications and an
// application indicator.
std::unique_ptr<Platform> makeGtkPlatform();

} // namespace quorvel::gtk
