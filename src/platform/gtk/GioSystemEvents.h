#pragma once

#include "platform/SystemEvents.h"

#include <memory>

namespace quorvel::gtk {

// Network changes from GIO's default network monitor ("network-changed"),
// wake-ups from the login manager: PrepareForSleep(false) of
// org.freedesktop.login1 on the system bus, from the owner of that name
// only. The system bus is reached asynchronously at creation, and losing it
// later does not end the process; without a system bus or a login manager
// wake-ups are never reported, and nothing is printed about it.
//
// Create, use and destroy it on the main thread; the delegate is called on
// the GLib main loop (default context), and not once the object is gone.
std::unique_ptr<SystemEvents> makeGioSystemEvents();

} // namespace quorvel::gtk
