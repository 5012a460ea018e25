#pragma once

#include "platform/gtk/NotificationServer.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <sigc++/trackable.h>
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
// closed again at once, so the user never sees one alert twice. Calls and
// deadlines end with the queue, their results unreported. Main loop only.
class NotifyQueue : public sigc::trackable {
public:
    // The server's number for the notification, or none and an error text.
    using Result = std::function<void(std::optional<guint32> id, const std::string& error)>;

    NotifyQueue(Glib::RefPtr<Gio::Cancellable> cancellable, std::chrono::milliseconds bound);

    // Takes a floating reference to the Notify arguments. `result` runs
    // at most once (exactly once while the queue lives), on the main loop.
    void send(const Bus& bus, GVariant* parameters, Result result);

private:
    struct Call {
        Bus bus;
        Glib::VariantContainerBase parameters;
        Result result;
    };
    struct Attempt;

    void start(Call call);
    void next();
    void failWaiting(const std::string& error);
    void closeLateNotification(const Bus& bus, guint32 id);

    Glib::RefPtr<Gio::Cancellable> cancellable_;
    std::chrono::milliseconds bound_;
    bool inFlight_ = false;
    std::deque<Call> waiting_;
};

} // namespace quorvel::gtk
