#include "platform/gtk/DBusNotificationCenter.h"

#include <algorithm>
#include <deque>
#include <gio/gio.h>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::gtk {

namespace {

constexpr const char* kBusName = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kApplicationName = "Quorvel";
constexpr const char* kApplicationId = "io.quorvel.Desktop";
constexpr const char* kSoundName = "message-new-instant";
constexpr const char* kDefaultActionLabel = "打开";
// Long enough for a server that D-Bus starts on demand, short enough that a
// hung one never holds a request for long.
constexpr int kCapabilitiesTimeoutMs = 5000;
constexpr int kNotifyTimeoutMs = 10000;
// Notifications remembered for their clicks; the oldest are forgotten first
// when a server never reports them closed.
constexpr std::size_t kRememberedNotifications = 512;

constexpr unsigned kFullPresentation = PresentationBanner | PresentationList | PresentationSound;

void postToMainLoop(std::function<void()> block) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(block)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

std::string describe(const GError* error) {
    if (error == nullptr) {
        return "Unknown D-Bus error";
    }
    GError* copy = g_error_copy(error);
    // "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: …" → the message.
    g_dbus_error_strip_remote_error(copy);
    std::string text = copy->message;
    g_error_free(copy);
    return text;
}

// D-Bus strings must be valid UTF-8; invalid sequences become U+FFFD.
std::string validUtf8(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    std::string result = valid;
    g_free(valid);
    return result;
}

std::string escapeMarkup(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

using ReplyHandler = std::function<void(GVariant* reply, const GError* error)>;

void callServer(GDBusConnection* connection, const char* method, GVariant* parameters,
                const GVariantType* replyType, int timeoutMs, GCancellable* cancellable,
                ReplyHandler handler) {
    g_dbus_connection_call(
        connection, kBusName, kObjectPath, kInterface, method, parameters, replyType,
        G_DBUS_CALL_FLAGS_NONE, timeoutMs, cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<ReplyHandler> onReply(static_cast<ReplyHandler*>(data));
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            (*onReply)(reply, error);
            if (reply != nullptr) {
                g_variant_unref(reply);
            }
            g_clear_error(&error);
        },
        new ReplyHandler(std::move(handler)));
}

// A completion that runs at most once, and not at all once released.
struct PendingCompletion {
    virtual ~PendingCompletion() = default;
    virtual void release() = 0;
};

template <typename... Args> struct TrackedCompletion final : PendingCompletion {
    std::function<void(Args...)> function;

    void release() override { function = nullptr; }
    void operator()(Args... args) {
        auto once = std::move(function);
        function = nullptr;
        if (once) {
            once(std::move(args)...);
        }
    }
};

// Everything the center knows, used only on the main loop. Requests in flight
// hold it strongly; signal subscriptions hold it weakly.
struct State : std::enable_shared_from_this<State> {
    std::function<bool()> applicationIsActive;
    std::function<void(const std::string&)> activationTokenArrived;
    NotificationCenterDelegate* delegate = nullptr;
    bool alive = true; // false once the center is gone: no more delegate calls
    GCancellable* cancellable = g_cancellable_new();

    GDBusConnection* connection = nullptr;
    bool connecting = false;
    std::vector<std::function<void(GDBusConnection*, const std::string& error)>> waiting;
    std::vector<guint> subscriptions;

    std::optional<std::vector<std::string>> capabilities;
    std::map<guint32, std::string> shown;              // server id → our identifier
    std::deque<std::function<void()>> waitingNotifies; // Notify calls waiting for their turn
    bool notifyInFlight = false;
    std::vector<std::weak_ptr<PendingCompletion>> pending;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    ~State() {
        g_clear_object(&connection);
        g_clear_object(&cancellable);
    }

    // Wraps a caller's completion so that shutDown() can release it.
    template <typename... Args>
    std::function<void(Args...)> track(std::function<void(Args...)> completion) {
        std::erase_if(pending, [](const auto& slot) { return slot.expired(); });
        auto slot = std::make_shared<TrackedCompletion<Args...>>();
        slot->function = std::move(completion);
        pending.push_back(slot);
        return [slot](Args... args) { (*slot)(std::move(args)...); };
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
        unsubscribe();
    }

    void unsubscribe() {
        if (connection != nullptr) {
            for (const guint subscription : subscriptions) {
                g_dbus_connection_signal_unsubscribe(connection, subscription);
            }
        }
        subscriptions.clear();
    }

    // Calls `then` with the session bus, or with an error text when there is none.
    void withConnection(std::function<void(GDBusConnection*, const std::string& error)> then) {
        if (connection != nullptr && g_dbus_connection_is_closed(connection)) {
            unsubscribe();
            g_clear_object(&connection);
        }
        if (connection != nullptr) {
            then(connection, {});
            return;
        }
        waiting.push_back(std::move(then));
        if (connecting) {
            return;
        }
        connecting = true;
        g_bus_get(
            G_BUS_TYPE_SESSION, cancellable,
            [](GObject*, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<State>> holder(
                    static_cast<std::shared_ptr<State>*>(data));
                State& state = **holder;
                GError* error = nullptr;
                GDBusConnection* bus = g_bus_get_finish(result, &error);
                state.connecting = false;
                std::string errorText;
                if (bus != nullptr && state.alive) {
                    state.connection = bus;
                    state.subscribe();
                } else {
                    if (bus != nullptr) {
                        g_object_unref(bus);
                    }
                    errorText = "No session bus: " + describe(error);
                }
                g_clear_error(&error);
                auto waiters = std::move(state.waiting);
                state.waiting.clear();
                for (auto& waiter : waiters) {
                    waiter(state.connection, errorText);
                }
            },
            new std::shared_ptr<State>(shared_from_this()));
    }

    void subscribe() {
        const auto weakState = [this] {
            return static_cast<gpointer>(new std::weak_ptr<State>(weak_from_this()));
        };
        const GDestroyNotify freeWeakState = [](gpointer data) {
            delete static_cast<std::weak_ptr<State>*>(data);
        };
        subscriptions.push_back(g_dbus_connection_signal_subscribe(
            connection, kBusName, kInterface, "ActionInvoked", kObjectPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer data) {
                if (auto state = static_cast<std::weak_ptr<State>*>(data)->lock()) {
                    state->onActionInvoked(parameters);
                }
            },
            weakState(), freeWeakState));
        subscriptions.push_back(g_dbus_connection_signal_subscribe(
            connection, kBusName, kInterface, "ActivationToken", kObjectPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer data) {
                if (auto state = static_cast<std::weak_ptr<State>*>(data)->lock()) {
                    state->onActivationToken(parameters);
                }
            },
            weakState(), freeWeakState));
        subscriptions.push_back(g_dbus_connection_signal_subscribe(
            connection, kBusName, kInterface, "NotificationClosed", kObjectPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer data) {
                if (auto state = static_cast<std::weak_ptr<State>*>(data)->lock()) {
                    state->onNotificationClosed(parameters);
                }
            },
            weakState(), freeWeakState));
        // A new server (or none) numbers its notifications afresh: forget the
        // old numbers so that another program's notification is never taken
        // for one of ours, and ask the new server for its capabilities.
        subscriptions.push_back(g_dbus_connection_signal_subscribe(
            connection, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", kBusName, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               gpointer data) {
                if (auto state = static_cast<std::weak_ptr<State>*>(data)->lock()) {
                    state->shown.clear();
                    state->capabilities.reset();
                }
            },
            weakState(), freeWeakState));
    }

    void onActionInvoked(GVariant* parameters) {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            return;
        }
        guint32 id = 0;
        const gchar* action = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &action);
        const auto found = shown.find(id);
        if (!alive || delegate == nullptr || found == shown.end() ||
            std::string_view(action) != "default") {
            return;
        }
        delegate->didReceiveNotificationResponse(found->second, [] {});
    }

    // Sent just before the ActionInvoked of a click: the token lets the
    // window that the click brings forward take the focus.
    void onActivationToken(GVariant* parameters) {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            return;
        }
        guint32 id = 0;
        const gchar* token = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &token);
        if (alive && activationTokenArrived && shown.contains(id)) {
            activationTokenArrived(token);
        }
    }

    void onNotificationClosed(GVariant* parameters) {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
            return;
        }
        guint32 id = 0;
        guint32 reason = 0;
        g_variant_get(parameters, "(uu)", &id, &reason);
        shown.erase(id);
    }

    // Calls `then` with the server's capabilities, asking the server when
    // they are not known; an unanswered question gives none.
    void withCapabilities(GDBusConnection* bus,
                          std::function<void(const std::vector<std::string>&)> then) {
        if (capabilities) {
            then(*capabilities);
            return;
        }
        queryCapabilities(bus, [then = std::move(then)](const std::vector<std::string>* found,
                                                        const std::string&) {
            then(found != nullptr ? *found : std::vector<std::string>{});
        });
    }

    // Asks the server for its capabilities: the list, or nullptr and an error text.
    void queryCapabilities(
        GDBusConnection* bus,
        std::function<void(const std::vector<std::string>*, const std::string& error)> then) {
        callServer(bus, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"), kCapabilitiesTimeoutMs,
                   cancellable,
                   [self = shared_from_this(), then = std::move(then)](GVariant* reply,
                                                                       const GError* error) {
                       if (reply == nullptr) {
                           then(nullptr, describe(error));
                           return;
                       }
                       std::vector<std::string> found;
                       GVariantIter* iter = nullptr;
                       const gchar* capability = nullptr;
                       g_variant_get(reply, "(as)", &iter);
                       while (g_variant_iter_loop(iter, "&s", &capability)) {
                           found.emplace_back(capability);
                       }
                       g_variant_iter_free(iter);
                       self->capabilities = found;
                       then(&found, {});
                   });
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

    // The hints of one notification: the application, its sound, and how
    // it is to be presented.
    static GVariant* hintsFor(const NotificationRequest& request, unsigned presentation) {
        GVariantBuilder hints;
        g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&hints, "{sv}", "desktop-entry",
                              g_variant_new_string(kApplicationId));
        if (request.defaultSound && (presentation & PresentationSound) != 0) {
            g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(kSoundName));
        } else {
            g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
        }
        if ((presentation & PresentationBanner) == 0) {
            g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(0));
        }
        if ((presentation & PresentationList) == 0) {
            g_variant_builder_add(&hints, "{sv}", "transient", g_variant_new_boolean(TRUE));
        }
        return g_variant_builder_end(&hints);
    }

    void sendInTurn(std::function<void()> send) {
        if (notifyInFlight) {
            waitingNotifies.push_back(std::move(send));
            return;
        }
        notifyInFlight = true;
        send();
    }

    void sendNext() {
        notifyInFlight = false;
        if (!waitingNotifies.empty()) {
            auto next = std::move(waitingNotifies.front());
            waitingNotifies.pop_front();
            sendInTurn(std::move(next));
        }
    }

    void notify(GDBusConnection* bus, const NotificationRequest& request,
                const std::vector<std::string>& serverCapabilities, unsigned presentation,
                std::function<void(std::optional<std::string>)> completion) {
        if ((presentation & (PresentationBanner | PresentationList)) == 0) {
            // Asked not to show it at all: accepted, not presented.
            completion(std::nullopt);
            return;
        }
        const bool markup = std::find(serverCapabilities.begin(), serverCapabilities.end(),
                                      "body-markup") != serverCapabilities.end();
        const std::string summary = validUtf8(request.title);
        const std::string body =
            markup ? escapeMarkup(validUtf8(request.body)) : validUtf8(request.body);

        // Notify calls go out one at a time: a burst of alerts waits here
        // instead of in the server's queue, where the later ones would time
        // out although the server shows them all.
        g_object_ref(bus); // held until the call is made
        sendInTurn([self = shared_from_this(), bus, summary, body, presentation, request,
                    completion = std::move(completion)]() mutable {
            GVariantBuilder actions;
            g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
            g_variant_builder_add(&actions, "s", "default");
            g_variant_builder_add(&actions, "s", kDefaultActionLabel);
            GVariant* parameters = g_variant_new(
                "(susssas@a{sv}i)", kApplicationName, guint32{0}, kApplicationId, summary.c_str(),
                body.c_str(), &actions, self->hintsFor(request, presentation), gint32{-1});
            callServer(bus, "Notify", parameters, G_VARIANT_TYPE("(u)"), kNotifyTimeoutMs,
                       self->cancellable,
                       [self, identifier = request.identifier,
                        completion = std::move(completion)](GVariant* reply, const GError* error) {
                           if (reply == nullptr) {
                               completion(describe(error));
                           } else {
                               guint32 id = 0;
                               g_variant_get(reply, "(u)", &id);
                               if (self->alive) {
                                   if (self->shown.size() >= kRememberedNotifications) {
                                       self->shown.erase(self->shown.begin());
                                   }
                                   self->shown.insert_or_assign(id, identifier);
                               }
                               completion(std::nullopt);
                           }
                           self->sendNext();
                       });
            g_object_unref(bus);
        });
    }
};

class DBusNotificationCenter final : public NotificationCenter {
public:
    DBusNotificationCenter(std::function<bool()> applicationIsActive,
                           std::function<void(const std::string&)> activationTokenArrived)
        : state_(std::make_shared<State>()) {
        state_->applicationIsActive = std::move(applicationIsActive);
        state_->activationTokenArrived = std::move(activationTokenArrived);
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
        postToMainLoop([state = state_,
                        completion = state_->track(std::move(completion))]() mutable {
            state->withConnection([state, completion = std::move(completion)](
                                      GDBusConnection* bus, const std::string&) mutable {
                if (bus == nullptr) {
                    completion(false);
                    return;
                }
                state->queryCapabilities(
                    bus, [completion = std::move(completion)](const std::vector<std::string>* found,
                                                              const std::string&) {
                        completion(found != nullptr);
                    });
            });
        });
    }

    void add(const NotificationRequest& request,
             std::function<void(std::optional<std::string> error)> completion) override {
        postToMainLoop([state = state_, request,
                        completion = state_->track(std::move(completion))]() mutable {
            state->withConnection([state, request, completion = std::move(completion)](
                                      GDBusConnection* bus, const std::string& error) mutable {
                if (bus == nullptr) {
                    completion(error);
                    return;
                }
                state->withCapabilities(bus, [state, request, completion = std::move(completion)](
                                                 const std::vector<std::string>& caps) mutable {
                    state->withPresentation(
                        request.identifier,
                        [state, request, caps,
                         completion = std::move(completion)](unsigned presentation) mutable {
                            if (state->connection == nullptr) {
                                completion(std::string("The session bus connection is gone"));
                                return;
                            }
                            state->notify(state->connection, request, caps, presentation,
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

std::unique_ptr<NotificationCenter>
makeDBusNotificationCenter(std::function<bool()> applicationIsActive,
                           std::function<void(const std::string&)> activationTokenArrived) {
    return std::make_unique<DBusNotificationCenter>(std::move(applicationIsActive),
                                                    std::move(activationTokenArrived));
}

} // namespace quorvel::gtk
