#include "platform/gtk/NotificationBusConnection.h"

#include "platform/gtk/DBusErrors.h"
#include "platform/gtk/NotificationServer.h"

#include <utility>

namespace quorvel::gtk {

NotificationBusConnection::NotificationBusConnection(GCancellable* cancellable, Change connected,
                                                     Change lost)
    : cancellable_(G_CANCELLABLE(g_object_ref(cancellable))), connected_(std::move(connected)),
      lost_(std::move(lost)) {}

NotificationBusConnection::~NotificationBusConnection() {
    g_clear_object(&connection_);
    g_clear_object(&cancellable_);
}

void NotificationBusConnection::shutDown() {
    alive_ = false;
    if (connection_ != nullptr && lost_) {
        lost_(connection_);
    }
    connected_ = nullptr;
    lost_ = nullptr;
}

void NotificationBusConnection::withConnection(Ready then) {
    if (connection_ != nullptr) {
        then(connection_, {});
        return;
    }
    waiting_.push_back(std::move(then));
    if (connecting_) {
        return;
    }
    connecting_ = true;
    g_bus_get(
        G_BUS_TYPE_SESSION, cancellable_,
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<NotificationBusConnection>> holder(
                static_cast<std::shared_ptr<NotificationBusConnection>*>(data));
            NotificationBusConnection& self = **holder;
            GError* error = nullptr;
            GDBusConnection* bus = g_bus_get_finish(result, &error);
            self.connecting_ = false;
            std::string errorText;
            if (bus != nullptr && self.alive_) {
                self.connection_ = bus;
                if (self.connected_) {
                    self.connected_(bus);
                }
            } else {
                if (bus != nullptr) {
                    g_object_unref(bus);
                }
                errorText = "No session bus: " + describeError(error);
            }
            g_clear_error(&error);
            auto waiters = std::move(self.waiting_);
            self.waiting_.clear();
            for (auto& waiter : waiters) {
                waiter(self.connection_, errorText);
            }
        },
        new std::shared_ptr<NotificationBusConnection>(shared_from_this()));
}

} // namespace quorvel::gtk
