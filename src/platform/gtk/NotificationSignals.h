#pragma once

#include "platform/Interface.h"

#include <gio/gio.h>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::gtk {

// What the notification server announces to every client, as the centre
// hears it. Called on the main loop.
struct NotificationSignalListener : Interface {
    // ActionInvoked: the user chose an action of notification `id`.
    virtual void notificationActionInvoked(guint32 id, const std::string& action) = 0;
    // ActivationToken: sent just before the ActionInvoked of a click, with
    // the token that lets the window it brings forward take the focus.
    virtual void notificationActivationToken(guint32 id, const std::string& token) = 0;
    // NotificationClosed: notification `id` is gone.
    virtual void notificationClosed(guint32 id) = 0;
    // The server's bus name changed hands: a new server (or none) numbers
    // its notifications afresh and may take other capabilities.
    // `serverAppeared`: the name has an owner now (a server started, or
    // replaced the one before); false when the server went away.
    virtual void notificationServerChanged(bool serverAppeared) = 0;
};

// The centre's subscriptions to the server's signals on one connection.
// The listener is held weakly: signals arriving after it is gone are
// dropped.
class NotificationSignals {
public:
    NotificationSignals() = default;
    ~NotificationSignals();
    NotificationSignals(const NotificationSignals&) = delete;
    NotificationSignals& operator=(const NotificationSignals&) = delete;

    void subscribe(GDBusConnection* bus, const std::weak_ptr<NotificationSignalListener>& listener);
    void unsubscribe();

private:
    GDBusConnection* bus_ = nullptr;
    std::vector<guint> subscriptions_;
};

} // namespace quorvel::gtk
