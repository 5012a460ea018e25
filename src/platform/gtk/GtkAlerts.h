#pragma once

#include "platform/Alert.h"

#include <functional>
#include <memory>

namespace Gtk {
class Window;
}

namespace quorvel::gtk {

// Modal message dialogs, each run in a nested main loop.
class ModalAlerts : public Alerts {
public:
    // Closes every open dialog, innermost first, so that their loops return
    // (each answers as if closed without a button), and answers every later
    // request at once without showing a dialog. For quitting: the event loop
    // can only end once no dialog's loop runs inside it.
    virtual void endAll() = 0;
};

// `parentWindow` gives the window to centre dialogs on while it is visible.
std::unique_ptr<ModalAlerts> makeGtkAlerts(std::function<Gtk::Window*()> parentWindow);

} // namespace quorvel::gtk
