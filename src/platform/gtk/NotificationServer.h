#pragma once

#include <chrono>
#include <functional>
#include <gio/gio.h>
#include <memory>
#include <string>

namespace quorvel::gtk {

// The desktop's notification server, org.freedesktop.Notifications on the
// session bus, and the plumbing every call to it shares.
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

// The message of an error, without D-Bus's remote error name.
std::string describeError(const GError* error);

// Runs the block on the main loop, later.
void postToMainLoop(std::function<void()> block);

// Runs the block once on the main loop after the delay; returns the source,
// which g_source_remove cancels.
guint runOnMainLoopAfter(std::chrono::milliseconds delay, std::function<void()> block);

} // namespace quorvel::gtk
