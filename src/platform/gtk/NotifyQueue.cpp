#include "platform/gtk/NotifyQueue.h"

#include "platform/gtk/DBusErrors.h"
#include "platform/gtk/GlibSource.h"
#include "platform/gtk/OnceCompletion.h"

#include <utility>

namespace quorvel::gtk {

// One Notify call on its way: its caller's result until it is reported, and
// the deadline after which it is reported as failed.
struct NotifyQueue::Attempt {
    OnceCompletion<std::optional<guint32>, const std::string&> result;
    GlibSource deadline;
};

NotifyQueue::NotifyQueue(GCancellable* cancellable, std::chrono::milliseconds bound)
    : cancellable_(G_CANCELLABLE(g_object_ref(cancellable))), bound_(bound) {}

NotifyQueue::~NotifyQueue() {
    g_clear_object(&cancellable_);
}

void NotifyQueue::send(GDBusConnection* bus, GVariant* parameters, Result result) {
    Call call{referenceBus(bus),
              std::shared_ptr<GVariant>(g_variant_ref_sink(parameters), g_variant_unref),
              std::move(result)};
    if (inFlight_) {
        waiting_.push_back(std::move(call));
        return;
    }
    start(std::move(call));
}

void NotifyQueue::start(Call call) {
    inFlight_ = true;
    auto attempt = std::make_shared<Attempt>();
    attempt->result =
        OnceCompletion<std::optional<guint32>, const std::string&>(std::move(call.result));
    // The deadline belongs to the attempt, which the call's reply keeps.
    attempt->deadline = GlibSource::after(
        bound_, [weak = weak_from_this(), attempt = attempt.get(), bound = bound_] {
            const std::string error = "The notification server did not answer within " +
                                      std::to_string(bound.count()) + " ms";
            attempt->result.complete(std::nullopt, error);
            if (const auto self = weak.lock()) {
                self->failWaiting(error);
            }
        });
    // No time-out of its own: a late answer must still be heard.
    callNotificationServer(
        call.bus.get(), "Notify", call.parameters.get(), G_VARIANT_TYPE("(u)"),
        std::chrono::milliseconds(-1), cancellable_,
        [self = shared_from_this(), attempt, bus = call.bus](GVariant* reply, const GError* error) {
            std::optional<guint32> id;
            if (reply != nullptr) {
                id.emplace(0);
                g_variant_get(reply, "(u)", &*id);
            }
            attempt->deadline.cancel();
            if (!attempt->result.complete(id, id ? std::string() : describeError(error))) {
                // It was given up on.
                if (id) {
                    self->closeLateNotification(bus, *id);
                }
                return;
            }
            self->next();
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
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (Call& call : waiting) {
        call.result(std::nullopt, error);
    }
}

void NotifyQueue::closeLateNotification(const BusReference& bus, guint32 id) {
    callNotificationServer(bus.get(), "CloseNotification", g_variant_new("(u)", id), nullptr,
                           bound_, cancellable_, [](GVariant*, const GError*) {});
}

} // namespace quorvel::gtk
