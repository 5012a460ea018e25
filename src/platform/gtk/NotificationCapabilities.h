#pragma once

#include "platform/gtk/NotificationServer.h"

#include <chrono>
#include <functional>
#include <optional>
#include <sigc++/trackable.h>
#include <string>
#include <vector>

namespace quorvel::gtk {

// What the notification server says it can do (GetCapabilities). The answer
// is remembered until the server changes; questions asked while one is on
// its way share its answer, and end unanswered with their owner. Main loop
// only.
class NotificationCapabilities : public sigc::trackable {
public:
    using List = std::vector<std::string>;
    // The list, or none and an error text when the server did not answer.
    using Answer =
        std::function<void(const std::optional<List>& capabilities, const std::string& error)>;

    // A server that has not answered after `bound` counts as not answering.
    NotificationCapabilities(Glib::RefPtr<Gio::Cancellable> cancellable,
                             std::chrono::milliseconds bound);

    // Asks the server, also when an answer is remembered.
    void ask(const Bus& bus, Answer then);
    // The remembered answer, or the server's.
    void get(const Bus& bus, Answer then);
    // The server changed: what it said no longer holds.
    void forget() { known_.reset(); }

private:
    void answered(GVariant* reply, const std::string& error);

    Glib::RefPtr<Gio::Cancellable> cancellable_;
    std::chrono::milliseconds bound_;
    std::optional<List> known_;
    bool asking_ = false;
    std::vector<Answer> waiting_;
};

} // namespace quorvel::gtk
