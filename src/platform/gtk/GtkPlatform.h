#pragma once

#include "platform/Platform.h"

#include <memory>

namespace quorvel::gtk {

// The Linux platform: GTK 3, WebKitGTK, libsoup, D-Bus notifications and an
// application indicator.
std::unique_ptr<Platform> makeGtkPlatform();

} // namespace quorvel::gtk
