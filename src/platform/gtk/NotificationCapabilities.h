#pragma once

#include <chrono>
#include <functional>
#include <gio/gio.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::gtk {

// What the notification server says it can do (GetCapabilities). The answer
// is remembered until the server changes; questions asked while one is on
// its way share its answer. Main loop only.
class NotificationCapabilities : public std::enable_shared_from_this<NotificationCapabilities> {
public:
    using List = std::vector<std::string>;
    // The list, or none and an error text when the server did not answer.
    using Answer =
        std::function<void(const std::optional<List>& capabilities, const std::string& error)>;

    // A server that has not answered after `bound` counts as not answering.
    NotificationCapabilities(GCancellable* cancellable, std::chrono::milliseconds bound);
    ~NotificationCapabilities();
    NotificationCapabilities(const NotificationCapabilities&) = delete;
    NotificationCapabilities& operator=(const NotificationCapabilities&) = delete;

    // Asks the server, also when an answer is remembered.
    void ask(GDBusConnection* bus, Answer then);
    // The remembered answer, or the server's.
    void get(GDBusConnection* bus, Answer then);
    // The server changed: what it said no longer holds.
    void forget() { known_.reset(); }

private:
    GCancellable* cancellable_;
    std::chrono::milliseconds bound_;
    std::optional<List> known_;
    bool asking_ = false;
    std::vector<Answer> waiting_;
};

} // namespace quorvel::gtk
