#include "platform/gtk/NotificationCapabilities.h"

#include "platform/gtk/DBusErrors.h"
#include "platform/gtk/NotificationServer.h"

#include <utility>

namespace quorvel::gtk {

NotificationCapabilities::NotificationCapabilities(GCancellable* cancellable,
                                                   std::chrono::milliseconds bound)
    : cancellable_(G_CANCELLABLE(g_object_ref(cancellable))), bound_(bound) {}

NotificationCapabilities::~NotificationCapabilities() {
    g_clear_object(&cancellable_);
}

void NotificationCapabilities::get(GDBusConnection* bus, Answer then) {
    if (known_) {
        then(known_, {});
        return;
    }
    ask(bus, std::move(then));
}

void NotificationCapabilities::ask(GDBusConnection* bus, Answer then) {
    waiting_.push_back(std::move(then));
    if (asking_) {
        return;
    }
    asking_ = true;
    callNotificationServer(bus, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"), bound_,
                           cancellable_,
                           [self = shared_from_this()](GVariant* reply, const GError* error) {
                               std::optional<List> found;
                               std::string errorText;
                               if (reply != nullptr) {
                                   found.emplace();
                                   GVariantIter* iter = nullptr;
                                   const gchar* capability = nullptr;
                                   g_variant_get(reply, "(as)", &iter);
                                   while (g_variant_iter_loop(iter, "&s", &capability)) {
                                       found->emplace_back(capability);
                                   }
                                   g_variant_iter_free(iter);
                                   self->known_ = found;
                               } else {
                                   errorText = describeError(error);
                               }
                               self->asking_ = false;
                               auto waiters = std::move(self->waiting_);
                               self->waiting_.clear();
                               for (auto& waiter : waiters) {
                                   waiter(found, errorText);
                               }
                           });
}

} // namespace quorvel::gtk
