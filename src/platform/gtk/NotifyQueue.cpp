#include "platform/gtk/NotifyQueue.h"

#include "platform/gtk/OnceCompletion.h"

#include <glibmm/main.h>
#include <memory>
#include <sigc++/adaptors/track_obj.h>
#include <utility>

namespace quorvel::gtk {

// One Notify call on its way: its caller's result until it is reported, and
// the deadline after which it is reported as failed.
struct NotifyQueue::Attempt {
    OnceCompletion<std::optional<guint32>, const std::string&> result;
    sigc::connection deadline;
};

NotifyQueue::NotifyQueue(Glib::RefPtr<Gio::Cancellable> cancellable,
                         std::chrono::milliseconds bound)
    : cancellable_(std::move(cancellable)), bound_(bound) {}

void NotifyQueue::send(const Bus& bus, GVariant* parameters, Result result) {
    Call call{bus, Glib::VariantContainerBase(g_variant_ref_sink(parameters)), std::move(result)};
    if (inFlight_) {
        waiting_.push_back(std::move(call));
        return;
    }
    start(std::move(call));
}

void NotifyQueue::start(Call call) {
    inFlight_ = true;
    auto attempt = std::make_shared<Attempt>();
    attempt->result = decltype(attempt->result)(std::move(call.result));
    attempt->deadline = Glib::signal_timeout().connect(
        sigc::track_object(
            [this, attempt] {
                const std::string error = "The notification server did not answer within " +
                                          std::to_string(bound_.count()) + " ms";
                attempt->result.complete(std::nullopt, error);
                failWaiting(error);
                return false;
            },
            *this),
        static_cast<unsigned>(bound_.count()));
    // No time-out of its own: a late answer must still be heard.
    callNotificationServer(
        *this, call.bus, "Notify", call.parameters.gobj(), G_VARIANT_TYPE("(u)"),
        std::chrono::milliseconds(-1), cancellable_,
        [this, attempt, bus = call.bus](GVariant* reply, const std::string& error) {
            std::optional<guint32> id;
            if (reply != nullptr) {
                id.emplace(0);
                g_variant_get(reply, "(u)", &*id);
            }
            attempt->deadline.disconnect();
            if (!attempt->result.complete(id, error)) {
                // It was given up on.
                if (id) {
                    closeLateNotification(bus, *id);
                }
                return;
            }
            next();
        });
}

void NotifyQueue::next() {
    inFlight_ = false;
    if (!waiting_.empty()) {
        Call call = std::move(waiting_.front());
        waiting_.pop_front();
        start(std::move(call));
    }
}

void NotifyQueue::failWaiting(const std::string& error) {
    inFlight_ = false;
    auto waiting = std::exchange(waiting_, {});
    for (Call& call : waiting) {
        call.result(std::nullopt, error);
    }
}

void NotifyQueue::closeLateNotification(const Bus& bus, guint32 id) {
    callNotificationServer(*this, bus, "CloseNotification", g_variant_new("(u)", id), nullptr,
                           bound_, cancellable_, [](GVariant*, const std::string&) {});
}

} // namespace quorvel::gtk
