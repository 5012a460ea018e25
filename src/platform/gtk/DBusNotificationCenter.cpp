#include "platform/gtk/DBusNotificationCenter.h"

#include "platform/gtk/MainLoopTasks.h"
#include "platform/gtk/NotificationBusConnection.h"
#include "platform/gtk/NotificationCapabilities.h"
#include "platform/gtk/NotificationServer.h"
#include "platform/gtk/NotificationSignals.h"
#include "platform/gtk/NotifyMessage.h"
#include "platform/gtk/NotifyQueue.h"
#include "platform/gtk/OnceCompletion.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::gtk {

namespace {

// Notifications remembered for their clicks; the oldest are forgotten first
// when a server never reports them closed.
constexpr std::size_t kRememberedNotifications = 512;

constexpr unsigned kFullPresentation = PresentationBanner | PresentationList | PresentationSound;

// Everything the center knows, used only on the main loop. Requests in flight
// hold it strongly; signal subscriptions hold it weakly.
struct State : NotificationSignalListener, std::enable_shared_from_this<State> {
    std::function<bool()> applicationIsActive;
    std::function<void(const std::optional<std::string>&)> notificationClicked;
    NotificationCenterDelegate* delegate = nullptr;
    bool alive = true; // false once the center is gone: no more delegate calls
    GCancellable* cancellable = g_cancellable_new();

    NotificationSignals signals;
    std::shared_ptr<NotificationBusConnection> bus;
    std::shared_ptr<NotificationCapabilities> capabilities;
    std::shared_ptr<NotifyQueue> notifies;
    // A notification on show, by the server's id: our identifier, and the
    // activation token the server sent for a click on it, until the click.
    struct Shown {
        std::string identifier;
        std::optional<std::string> clickToken;
    };
    std::map<guint32, Shown> shown;
    std::vector<std::weak_ptr<Releasable>> pending;

    explicit State(const NotificationServerBounds& bounds)
        : capabilities(
              std::make_shared<NotificationCapabilities>(cancellable, bounds.capabilities)),
          notifies(std::make_shared<NotifyQueue>(cancellable, bounds.notify)) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() override { g_clear_object(&cancellable); }

    // Made once the object is owned, since signals hold it weakly.
    void connectBus() {
        bus = std::make_shared<NotificationBusConnection>(
            cancellable,
            [weak = weak_from_this()](GDBusConnection* connection) {
                if (const auto self = weak.lock()) {
                    self->signals.subscribe(connection, self);
                }
            },
            [weak = weak_from_this()](GDBusConnection*) {
                if (const auto self = weak.lock()) {
                    self->signals.unsubscribe();
                }
            });
    }

    // Wraps a caller's completion so that shutDown() can release it.
    template <typename... Args>
    std::function<void(Args...)> track(std::function<void(Args...)> completion) {
        std::erase_if(pending, [](const auto& slot) { return slot.expired(); });
        auto slot = std::make_shared<OnceCompletion<Args...>>(std::move(completion));
        pending.push_back(slot);
        return [slot](Args... args) { slot->complete(std::move(args)...); };
    }

    void shutDown() {
        alive = false;
        delegate = nullptr;
        for (const auto& slot : pending) {
            if (const auto completion = slot.lock()) {
                completion->release();
            }
        }
        pending.clear();
        g_cancellable_cancel(cancellable);
        bus->shutDown();
        signals.unsubscribe();
    }

    void notificationActionInvoked(guint32 id, const std::string& action) override {
        const auto found = shown.find(id);
        if (!alive || delegate == nullptr || found == shown.end() || action != "default") {
            return;
        }
        const std::string identifier = found->second.identifier;
        const auto token = std::exchange(found->second.clickToken, std::nullopt);
        if (notificationClicked) {
            notificationClicked(token);
        }
        delegate->didReceiveNotificationResponse(identifier, [] {});
    }

    // Sent just before the ActionInvoked of a click: the token lets the
    // window that the click brings forward take the focus.
    void notificationActivationToken(guint32 id, const std::string& token) override {
        if (const auto found = shown.find(id); alive && found != shown.end()) {
            found->second.clickToken = token;
        }
    }

    void notificationClosed(guint32 id) override { shown.erase(id); }

    // Forget the old server's numbers, so that another program's
    // notification is never taken for one of ours, and what it could do;
    // then tell the delegate of a new server, which it may ask afresh.
    void notificationServerChanged(bool serverAppeared) override {
        shown.clear();
        capabilities->forget();
        if (serverAppeared && alive && delegate != nullptr) {
            delegate->notificationServerDidAppear();
        }
    }

    // Asks the delegate how to present a notification while the application
    // is in front; otherwise presents it fully.
    void withPresentation(const std::string& identifier, std::function<void(unsigned)> then) {
        const bool active = applicationIsActive && applicationIsActive();
        if (!active || delegate == nullptr || !alive) {
            then(kFullPresentation);
            return;
        }
        auto answered = std::make_shared<bool>(false);
        auto shared = std::make_shared<std::function<void(unsigned)>>(std::move(then));
        delegate->willPresentNotification(identifier, [answered, shared](unsigned options) {
            if (*answered) {
                return;
            }
            *answered = true;
            postToMainLoop([shared, options] { (*shared)(options); });
        });
    }

    void notify(GDBusConnection* connection, const NotificationRequest& request,
                bool bodyMayBeMarkup, unsigned presentation,
                std::function<void(std::optional<std::string>)> completion) {
        if ((presentation & (PresentationBanner | PresentationList)) == 0) {
            // Asked not to show it at all: accepted, not presented.
            completion(std::nullopt);
            return;
        }
        notifies->send(connection, notifyParameters(request, presentation, bodyMayBeMarkup),
                       [self = shared_from_this(), identifier = request.identifier,
                        completion = std::move(completion)](std::optional<guint32> id,
                                                            const std::string& error) {
                           if (!id) {
                               completion(error);
                               return;
                           }
                           if (self->alive) {
                               if (self->shown.size() >= kRememberedNotifications) {
                                   self->shown.erase(self->shown.begin());
                               }
                               self->shown.insert_or_assign(*id, Shown{identifier, std::nullopt});
                           }
                           completion(std::nullopt);
                       });
    }
};

// A server that takes markup in bodies says so; one that did not say what it
// takes may read it too.
bool bodyMayBeMarkup(const std::optional<NotificationCapabilities::List>& capabilities) {
    return !capabilities || std::find(capabilities->begin(), capabilities->end(), "body-markup") !=
                                capabilities->end();
}

class DBusNotificationCenter final : public NotificationCenter {
public:
    DBusNotificationCenter(
        std::function<bool()> applicationIsActive,
        std::function<void(const std::optional<std::string>&)> notificationClicked,
        const NotificationServerBounds& bounds)
        : state_(std::make_shared<State>(bounds)) {
        state_->applicationIsActive = std::move(applicationIsActive);
        state_->notificationClicked = std::move(notificationClicked);
        state_->connectBus();
    }

    ~DBusNotificationCenter() override {
        // Requests in flight are cancelled and their completions released
        // without running; the delegate hears nothing more.
        state_->shutDown();
    }

    DBusNotificationCenter(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;

    void setDelegate(NotificationCenterDelegate* delegate) override { state_->delegate = delegate; }

    void requestAuthorization(unsigned /*options*/,
                              std::function<void(bool granted)> completion) override {
        postToMainLoop(
            [state = state_, completion = state_->track(std::move(completion))]() mutable {
                state->bus->withConnection([state, completion = std::move(completion)](
                                               GDBusConnection* bus, const std::string&) mutable {
                    if (bus == nullptr) {
                        completion(false);
                        return;
                    }
                    state->capabilities->ask(
                        bus, [completion = std::move(completion)](
                                 const std::optional<NotificationCapabilities::List>& found,
                                 const std::string&) { completion(found.has_value()); });
                });
            });
    }

    void add(const NotificationRequest& request,
             std::function<void(std::optional<std::string> error)> completion) override {
        postToMainLoop([state = state_, request,
                        completion = state_->track(std::move(completion))]() mutable {
            state->bus->withConnection([state, request, completion = std::move(completion)](
                                           GDBusConnection* bus, const std::string& error) mutable {
                if (bus == nullptr) {
                    completion(error);
                    return;
                }
                state->capabilities->get(
                    bus, [state, request, completion = std::move(completion)](
                             const std::optional<NotificationCapabilities::List>& found,
                             const std::string&) mutable {
                        const bool markup = bodyMayBeMarkup(found);
                        state->withPresentation(
                            request.identifier,
                            [state, request, markup,
                             completion = std::move(completion)](unsigned presentation) mutable {
                                GDBusConnection* connection = state->bus->current();
                                if (connection == nullptr) {
                                    completion(std::string("The session bus connection is gone"));
                                    return;
                                }
                                state->notify(connection, request, markup, presentation,
                                              std::move(completion));
                            });
                    });
            });
        });
    }

private:
    std::shared_ptr<State> state_;
};

} // namespace

std::unique_ptr<NotificationCenter> makeDBusNotificationCenter(
    std::function<bool()> applicationIsActive,
    std::function<void(const std::optional<std::string>&)> notificationClicked,
    const NotificationServerBounds& bounds) {
    return std::make_unique<DBusNotificationCenter>(std::move(applicationIsActive),
                                                    std::move(notificationClicked), bounds);
}

} // namespace quorvel::gtk
