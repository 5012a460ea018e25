#pragma once

#include "platform/Alert.h"

#include <functional>
#include <memory>

namespace Gtk {
class Window;
}

namespace quorvel::gtk {

// Modal message dialogs run in a nested main loop. `parentWindow` gives the
// window to centre them on while it is visible.
std::unique_ptr<Alerts> makeGtkAlerts(std::function<Gtk::Window*()> parentWindow);

} // namespace quorvel::gtk
