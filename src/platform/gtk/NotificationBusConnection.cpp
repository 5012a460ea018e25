#include "platform/gtk/NotificationBusConnection.h"

#include "platform/gtk/DBusErrors.h"

#include <giomm/init.h>
#include <sigc++/functors/mem_fun.h>
#include <utility>

namespace quorvel::gtk {

NotificationBusConnection::NotificationBusConnection(Glib::RefPtr<Gio::Cancellable> cancellable,
                                                     std::function<void(const Bus&)> connected)
    : cancellable_(std::move(cancellable)), connected_(std::move(connected)) {
    // The bus connection comes wrapped as giomm's own type.
    Gio::init();
}

void NotificationBusConnection::withConnection(Ready then) {
    if (connection_) {
        then(connection_, {});
        return;
    }
    waiting_.push_back(std::move(then));
    if (connecting_) {
        return;
    }
    connecting_ = true;
    Gio::DBus::Connection::get(Gio::DBus::BUS_TYPE_SESSION,
                               sigc::mem_fun(*this, &NotificationBusConnection::made),
                               cancellable_);
}

void NotificationBusConnection::made(const Glib::RefPtr<Gio::AsyncResult>& result) {
    connecting_ = false;
    std::string errorText;
    try {
        connection_ = Gio::DBus::Connection::get_finish(result);
    } catch (const Glib::Error& error) {
        errorText = "No session bus: " + describeError(error.gobj());
    }
    if (!connection_ && errorText.empty()) {
        errorText = "No session bus";
    }
    if (connection_ && connected_) {
        connected_(connection_);
    }
    auto waiters = std::exchange(waiting_, {});
    for (auto& waiter : waiters) {
        waiter(connection_, errorText);
    }
}

} // namespace quorvel::gtk
