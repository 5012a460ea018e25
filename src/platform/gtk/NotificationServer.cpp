#include "platform/gtk/NotificationServer.h"

#include <climits>
#include <utility>

namespace quorvel::gtk {

BusReference referenceBus(GDBusConnection* bus) {
    return BusReference(G_DBUS_CONNECTION(g_object_ref(bus)),
                        [](GDBusConnection* connection) { g_object_unref(connection); });
}

void callNotificationServer(GDBusConnection* bus, const char* method, GVariant* parameters,
                            const GVariantType* replyType, std::chrono::milliseconds timeout,
                            GCancellable* cancellable, ServerReplyHandler handler) {
    const int timeoutMs = timeout.count() < 0 ? INT_MAX : static_cast<int>(timeout.count());
    g_dbus_connection_call(
        bus, kNotificationsBusName, kNotificationsObjectPath, kNotificationsInterface, method,
        parameters, replyType, G_DBUS_CALL_FLAGS_NONE, timeoutMs, cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<ServerReplyHandler> onReply(static_cast<ServerReplyHandler*>(data));
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            (*onReply)(reply, error);
            if (reply != nullptr) {
                g_variant_unref(reply);
            }
            g_clear_error(&error);
        },
        new ServerReplyHandler(std::move(handler)));
}

} // namespace quorvel::gtk
