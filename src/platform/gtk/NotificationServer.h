#pragma once

#include <chrono>
#include <functional>
#include <giomm/cancellable.h>
#include <giomm/dbusconnection.h>
#include <glib.h>
#include <sigc++/trackable.h>
#include <string>

namespace quorvel::gtk {

// The desktop's notification server, org.freedesktop.Notifications on the
// session bus, and how every call to it is made.
inline constexpr const char* kNotificationsBusName = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationsObjectPath = "/org/freedesktop/Notifications";
inline constexpr const char* kNotificationsInterface = "org.freedesktop.Notifications";

using Bus = Glib::RefPtr<Gio::DBus::Connection>;

// The reply (none on failure) and the error text (empty on success).
using ServerReplyHandler = std::function<void(GVariant* reply, const std::string& error)>;

// Calls a method of the notification server; `parameters` may be floating or
// null. The handler runs at most once, on the main loop, with the reply or
// the error; it is bound to `owner` and never runs once the owner is gone.
// A negative timeout waits for as long as the call takes (until it is
// cancelled).
void callNotificationServer(const sigc::trackable& owner, const Bus& bus, const char* method,
                            GVariant* parameters, const GVariantType* replyType,
                            std::chrono::milliseconds timeout,
                            const Glib::RefPtr<Gio::Cancellable>& cancellable,
                            ServerReplyHandler handler);

} // namespace quorvel::gtk
