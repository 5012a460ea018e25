#pragma once

#include <gio/gio.h>
#include <string>

namespace quorvel::gtk {

// The activation token a launcher hands over in XDG_ACTIVATION_TOKEN, which
// lets the program's window take the focus. GTK 3 reads only the older
// DESKTOP_STARTUP_ID, and only as its library is loaded, so this token is
// taken here. Empty without one, or when DESKTOP_STARTUP_ID is set (GTK then
// uses that). The variable is removed, so the local service never inherits it.
std::string takeLaunchActivationToken();

// When another instance of the application runs, asks it to activate with
// the token (the platform data GTK passes on for DESKTOP_STARTUP_ID) and
// returns true; false when this is the first instance or the call failed.
bool activateRunningInstance(GApplication* application, const std::string& token);

// Makes the token the one the next window presented on the default display
// uses.
void useActivationTokenForNextWindow(const std::string& token);

} // namespace quorvel::gtk
