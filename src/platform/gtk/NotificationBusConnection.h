#pragma once

#include "platform/gtk/NotificationServer.h"

#include <functional>
#include <sigc++/trackable.h>
#include <string>
#include <vector>

namespace quorvel::gtk {

// The session bus connection the notification centre talks over: made on
// first use and shared by every request. It is the process's shared session
// connection, which ends the program when the bus closes it (GDBus's
// exit-on-close, a SIGTERM the application handles as a quit), so it is
// never made again. The wait for it ends with its owner. Main loop only.
class NotificationBusConnection : public sigc::trackable {
public:
    using Ready = std::function<void(const Bus& bus, const std::string& error)>;

    // `connected` runs once, when the connection is made.
    NotificationBusConnection(Glib::RefPtr<Gio::Cancellable> cancellable,
                              std::function<void(const Bus&)> connected);

    // Calls `then` with the connection, or with no connection and an error
    // text when there is no session bus.
    void withConnection(Ready then);
    // The connection, when one is open.
    const Bus& current() const { return connection_; }

private:
    void made(const Glib::RefPtr<Gio::AsyncResult>& result);

    Glib::RefPtr<Gio::Cancellable> cancellable_;
    std::function<void(const Bus&)> connected_;
    Bus connection_;
    bool connecting_ = false;
    std::vector<Ready> waiting_;
};

} // namespace quorvel::gtk
