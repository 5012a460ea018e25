#include "platform/gtk/NotificationServer.h"

#include "platform/gtk/DBusErrors.h"

#include <climits>
#include <sigc++/adaptors/track_obj.h>
#include <utility>

namespace quorvel::gtk {

namespace {

// A reference of the caller's own: the floating one, or a new one.
GVariant* own(GVariant* parameters) {
    return parameters != nullptr ? g_variant_ref_sink(parameters) : nullptr;
}

} // namespace

void callNotificationServer(const sigc::trackable& owner, const Bus& bus, const char* method,
                            GVariant* parameters, const GVariantType* replyType,
                            std::chrono::milliseconds timeout,
                            const Glib::RefPtr<Gio::Cancellable>& cancellable,
                            ServerReplyHandler handler) {
    const int timeoutMs = timeout.count() < 0 ? INT_MAX : static_cast<int>(timeout.count());
    const Glib::VariantType type =
        replyType != nullptr ? Glib::VariantType(const_cast<GVariantType*>(replyType), true)
                             : Glib::VariantType();
    bus->call(
        kNotificationsObjectPath, kNotificationsInterface, method,
        Glib::VariantContainerBase(own(parameters)),
        sigc::track_object(
            [bus, handler = std::move(handler)](const Glib::RefPtr<Gio::AsyncResult>& result) {
                Glib::VariantContainerBase reply;
                try {
                    reply = bus->call_finish(result);
                } catch (const Glib::Error& error) {
                    handler(nullptr, describeError(error.gobj()));
                    return;
                }
                handler(reply.gobj(), {});
            },
            owner),
        cancellable, kNotificationsBusName, timeoutMs, Gio::DBus::CALL_FLAGS_NONE, type);
}

} // namespace quorvel::gtk
