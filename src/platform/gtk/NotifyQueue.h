#pragma once

#include "platform/gtk/NotificationServer.h"

#include <chrono>
#include <deque>
#include <functional>
#include <gio/gio.h>
#include <memory>
#include <optional>
#include <string>

namespace quorvel::gtk {

// The Notify calls to the server, one at a time: a burst of alerts waits
// here instead of in the server's queue, where the later ones would time out
// although the server shows them all.
//
// A call that the server has not answered within `bound` ends as a failure,
// so that the caller can show the alert another way, and the calls waiting
// behind it fail with it: the server is not answering. The call itself stays
// open; should the server answer it after all, the notification it shows is
// closed again at once, so the user never sees one alert twice. Main loop
// only.
class NotifyQueue : public std::enable_shared_from_this<NotifyQueue> {
public:
    // The server's number for the notification, or none and an error text.
    using Result = std::function<void(std::optional<guint32> id, const std::string& error)>;

    NotifyQueue(GCancellable* cancellable, std::chrono::milliseconds bound);
    ~NotifyQueue();
    NotifyQueue(const NotifyQueue&) = delete;
    NotifyQueue& operator=(const NotifyQueue&) = delete;

    // Takes a floating reference to the Notify arguments. `result` runs
    // exactly once, on the main loop, never inside this call.
    void send(GDBusConnection* bus, GVariant* parameters, Result result);

private:
    struct Call {
        BusReference bus;
        std::shared_ptr<GVariant> parameters;
        Result result;
    };
    struct Attempt;

    void start(Call call);
    void next();
    void failWaiting(const std::string& error);
    void closeLateNotification(const BusReference& bus, guint32 id);

    GCancellable* cancellable_;
    std::chrono::milliseconds bound_;
    bool inFlight_ = false;
    std::deque<Call> waiting_;
};

} // namespace quorvel::gtk
