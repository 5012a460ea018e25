#pragma once

#include <chrono>
#include <functional>
#include <gio/gio.h>
#include <memory>
#include <string>

namespace quorvel::gtk {

// The desktop's notification server, org.freedesktop.Notifications on the
// session bus, and how every call to it is made.
inline constexpr const char* kNotificationsBusName = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationsObjectPath = "/org/freedesktop/Notifications";
inline constexpr const char* kNotificationsInterface = "org.freedesktop.Notifications";

// A reference to a bus connection, released with the last copy.
using BusReference = std::shared_ptr<GDBusConnection>;
BusReference referenceBus(GDBusConnection* bus);

using ServerReplyHandler = std::function<void(GVariant* reply, const GError* error)>;

// Calls a method of the notification server. The handler runs exactly once,
// on the main loop, with the reply or the error; a negative timeout waits
// for as long as the call takes (until it is cancelled).
void callNotificationServer(GDBusConnection* bus, const char* method, GVariant* parameters,
                            const GVariantType* replyType, std::chrono::milliseconds timeout,
                            GCancellable* cancellable, ServerReplyHandler handler);

} // namespace quorvel::gtk
