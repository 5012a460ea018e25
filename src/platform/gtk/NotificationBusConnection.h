#pragma once

#include <functional>
#include <gio/gio.h>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::gtk {

// The session bus connection the notification centre talks over: made on
// first use and shared by every request. It is the process's shared session
// connection, which ends the program when the bus closes it (GDBus's
// exit-on-close, a SIGTERM the application handles as a quit), so it is
// never made again. Main loop only.
class NotificationBusConnection : public std::enable_shared_from_this<NotificationBusConnection> {
public:
    using Ready = std::function<void(GDBusConnection* bus, const std::string& error)>;
    using Change = std::function<void(GDBusConnection* bus)>;

    // `connected` runs once the connection is made, `lost` when it is let go
    // at shut-down.
    NotificationBusConnection(GCancellable* cancellable, Change connected, Change lost);
    ~NotificationBusConnection();
    NotificationBusConnection(const NotificationBusConnection&) = delete;
    NotificationBusConnection& operator=(const NotificationBusConnection&) = delete;

    // Calls `then` with the connection, or with no connection and an error
    // text when there is no session bus.
    void withConnection(Ready then);
    // The connection, when one is open.
    GDBusConnection* current() const { return connection_; }
    // No connection is made or kept from now on.
    void shutDown();

private:
    GCancellable* cancellable_;
    Change connected_;
    Change lost_;
    bool alive_ = true;
    GDBusConnection* connection_ = nullptr;
    bool connecting_ = false;
    std::vector<Ready> waiting_;
};

} // namespace quorvel::gtk
