#include "platform/gtk/DBusNotificationCenter.h"

#include "platform/gtk/NotificationBusConnection.h"
#include "platform/gtk/NotificationCapabilities.h"
#include "platform/gtk/NotificationServer.h"
#include "platform/gtk/NotificationSignals.h"
#include "platform/gtk/NotifyMessage.h"
#include "platform/gtk/NotifyQueue.h"

#include <algorithm>
#include <functional>
#include <glibmm/main.h>
#include <map>
#include <optional>
#include <sigc++/adaptors/track_obj.h>
#include <string>
#include <utility>

namespace quorvel::gtk {

namespace {

// Notifications remembered for their clicks; the oldest are forgotten first
// when a server never reports them closed.
constexpr std::size_t kRememberedNotifications = 512;

using AddCompletion = std::function<void(std::optional<std::string> error)>;
using AuthorizationCompletion = std::function<void(bool granted)>;

// What the server's signals act on: the notifications on show and whom a
// click goes to. The center owns it; its signal subscriptions hold it weakly,
// since a signal already on its way may still arrive after they end.
struct SignalListener final : NotificationSignalListener {
    SignalListener(sigc::slot<void, const std::optional<std::string>&> clicked,
                   NotificationCapabilities& serverCapabilities)
        : notificationClicked(std::move(clicked)), capabilities(serverCapabilities) {}

    sigc::slot<void, const std::optional<std::string>&> notificationClicked;
    NotificationCapabilities& capabilities;
    NotificationCenterDelegate* delegate = nullptr;
    // A notification on show, by the server's id: our identifier, and the
    // activation token the server sent for a click on it, until the click.
    struct Shown {
        std::string identifier;
        std::optional<std::string> clickToken;
    };
    std::map<guint32, Shown> shown;

    void remember(guint32 id, const std::string& identifier) {
        if (shown.size() >= kRememberedNotifications) {
            shown.erase(shown.begin());
        }
        shown.insert_or_assign(id, Shown{identifier, std::nullopt});
    }

    void notificationActionInvoked(guint32 id, const std::string& action) override {
        const auto found = shown.find(id);
        if (delegate == nullptr || found == shown.end() || action != "default") {
            return;
        }
        const std::string identifier = found->second.identifier;
        const auto token = std::exchange(found->second.clickToken, std::nullopt);
        notificationClicked(token);
        delegate->didReceiveNotificationResponse(identifier, [] {});
    }

    // Sent just before the ActionInvoked of a click: the token lets the
    // window that the click brings forward take the focus.
    void notificationActivationToken(guint32 id, const std::string& token) override {
        if (const auto found = shown.find(id); found != shown.end()) {
            found->second.clickToken = token;
        }
    }

    void notificationClosed(guint32 id) override { shown.erase(id); }

    // Forget the old server's numbers, so that another program's
    // notification is never taken for one of ours, and what it could do;
    // then tell the delegate of a new server, which it may ask afresh.
    void notificationServerChanged(bool serverAppeared) override {
        shown.clear();
        capabilities.forget();
        if (serverAppeared && delegate != nullptr) {
            delegate->notificationServerDidAppear();
        }
    }
};

// A server that takes markup in bodies says so; one that did not say what it
// takes may read it too.
bool bodyMayBeMarkup(const std::optional<NotificationCapabilities::List>& capabilities) {
    return !capabilities || std::find(capabilities->begin(), capabilities->end(), "body-markup") !=
                                capabilities->end();
}

// Every step of a request that is still to come is bound to the center or to
// one of its parts (sigc::trackable), and every call on the bus shares the
// center's cancellable: destroying the center cancels the calls and lets go
// of their completions without running them.
class DBusNotificationCenter final : public NotificationCenter, public sigc::trackable {
public:
    DBusNotificationCenter(sigc::slot<void, const std::optional<std::string>&> notificationClicked,
                           const NotificationServerBounds& bounds)
        : capabilities_(cancellable_, bounds.capabilities), notifies_(cancellable_, bounds.notify),
          listener_(
              std::make_shared<SignalListener>(std::move(notificationClicked), capabilities_)),
          bus_(cancellable_,
               [this](const Bus& bus) { signals_.subscribe(bus->gobj(), listener_); }) {}

    ~DBusNotificationCenter() override {
        cancellable_->cancel();
        signals_.unsubscribe();
    }

    DBusNotificationCenter(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;

    void setDelegate(NotificationCenterDelegate* delegate) override {
        listener_->delegate = delegate;
    }

    void requestAuthorization(unsigned /*options*/, AuthorizationCompletion completion) override {
        later([this, completion = std::move(completion)] {
            bus_.withConnection(
                std::bind_front(&DBusNotificationCenter::authorizeOnBus, this, completion));
        });
    }

    void add(const NotificationRequest& request, AddCompletion completion) override {
        later([this, request, completion = std::move(completion)] {
            bus_.withConnection(
                std::bind_front(&DBusNotificationCenter::addOnBus, this, request, completion));
        });
    }

private:
    // Runs the step on the main loop, never inside the call that asked for it.
    void later(std::function<void()> step) {
        Glib::signal_idle().connect_once(sigc::track_object(std::move(step), *this),
                                         Glib::PRIORITY_DEFAULT);
    }

    void authorizeOnBus(const AuthorizationCompletion& completion, const Bus& bus,
                        const std::string&) {
        if (!bus) {
            completion(false);
            return;
        }
        capabilities_.ask(bus, [completion](const auto& found, const std::string&) {
            completion(found.has_value());
        });
    }

    void addOnBus(const NotificationRequest& request, const AddCompletion& completion,
                  const Bus& bus, const std::string& error) {
        if (!bus) {
            completion(error);
            return;
        }
        capabilities_.get(
            bus, std::bind_front(&DBusNotificationCenter::send, this, bus, request, completion));
    }

    void send(const Bus& bus, const NotificationRequest& request, const AddCompletion& completion,
              const std::optional<NotificationCapabilities::List>& capabilities,
              const std::string&) {
        notifies_.send(
            bus, notifyParameters(request, bodyMayBeMarkup(capabilities)),
            std::bind_front(&DBusNotificationCenter::sent, this, request.identifier, completion));
    }

    void sent(const std::string& identifier, const AddCompletion& completion,
              std::optional<guint32> id, const std::string& error) {
        if (!id) {
            completion(error);
            return;
        }
        listener_->remember(*id, identifier);
        completion(std::nullopt);
    }

    Glib::RefPtr<Gio::Cancellable> cancellable_ = Gio::Cancellable::create();
    NotificationCapabilities capabilities_;
    NotifyQueue notifies_;
    std::shared_ptr<SignalListener> listener_;
    NotificationSignals signals_;
    NotificationBusConnection bus_;
};

} // namespace

std::unique_ptr<NotificationCenter>
makeDBusNotificationCenter(sigc::slot<void, const std::optional<std::string>&> notificationClicked,
                           const NotificationServerBounds& bounds) {
    return std::make_unique<DBusNotificationCenter>(std::move(notificationClicked), bounds);
}

} // namespace quorvel::gtk
