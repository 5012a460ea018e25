#pragma once

#include "platform/Alert.h"

#include <functional>
#include <memory>

namespace quorvel::gtk {

class GtkmmApplication;

// Modal message dialogs, each run in a nested main loop.
class ModalAlerts : public Alerts {
public:
    // Closes every open dialog, innermost first, so that their loops return
    // (each answers as if closed without a button), and answers every later
    // request at once without showing a dialog. For quitting: the event loop
    // can only end once no dialog's loop runs inside it.
    virtual void endAll() = 0;
};

// Dialogs of `app`: centred on its window while that is visible, and all
// ended when it terminates.
std::unique_ptr<ModalAlerts> makeGtkAlerts(GtkmmApplication& app);

} // namespace quorvel::gtk
