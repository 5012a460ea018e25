#include "platform/gtk/NotificationServer.h"

#include <climits>
#include <utility>

namespace quorvel::gtk {

namespace {

using Block = std::function<void()>;

gboolean runOnce(gpointer data) {
    (*static_cast<Block*>(data))();
    return G_SOURCE_REMOVE;
}

void destroyBlock(gpointer data) {
    delete static_cast<Block*>(data);
}

} // namespace

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

std::string describeError(const GError* error) {
    if (error == nullptr) {
        return "Unknown D-Bus error";
    }
    GError* copy = g_error_copy(error);
    // "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: …" → the message.
    g_dbus_error_strip_remote_error(copy);
    std::string text = copy->message;
    g_error_free(copy);
    return text;
}

void postToMainLoop(std::function<void()> block) {
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new Block(std::move(block)), destroyBlock);
}

guint runOnMainLoopAfter(std::chrono::milliseconds delay, std::function<void()> block) {
    return g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(delay.count()), runOnce,
                              new Block(std::move(block)), destroyBlock);
}

} // namespace quorvel::gtk
