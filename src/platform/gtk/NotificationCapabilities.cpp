#include "platform/gtk/NotificationCapabilities.h"

#include <utility>

namespace quorvel::gtk {

NotificationCapabilities::NotificationCapabilities(Glib::RefPtr<Gio::Cancellable> cancellable,
                                                   std::chrono::milliseconds bound)
    : cancellable_(std::move(cancellable)), bound_(bound) {}

void NotificationCapabilities::get(const Bus& bus, Answer then) {
    if (known_) {
        then(known_, {});
        return;
    }
    ask(bus, std::move(then));
}

void NotificationCapabilities::ask(const Bus& bus, Answer then) {
    waiting_.push_back(std::move(then));
    if (asking_) {
        return;
    }
    asking_ = true;
    callNotificationServer(
        *this, bus, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"), bound_, cancellable_,
        [this](GVariant* reply, const std::string& error) { answered(reply, error); });
}

void NotificationCapabilities::answered(GVariant* reply, const std::string& error) {
    std::optional<List> found;
    if (reply != nullptr) {
        found.emplace();
        GVariantIter* iter = nullptr;
        const gchar* capability = nullptr;
        g_variant_get(reply, "(as)", &iter);
        while (g_variant_iter_loop(iter, "&s", &capability)) {
            found->emplace_back(capability);
        }
        g_variant_iter_free(iter);
        known_ = found;
    }
    asking_ = false;
    auto waiters = std::exchange(waiting_, {});
    for (auto& waiter : waiters) {
        waiter(found, error);
    }
}

} // namespace quorvel::gtk
