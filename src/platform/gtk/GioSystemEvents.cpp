#include "platform/gtk/GioSystemEvents.h"

#include <gio/gio.h>
#include <memory>

namespace quorvel::gtk {

namespace {

constexpr const char* kLoginManagerName = "org.freedesktop.login1";
constexpr const char* kLoginManagerPath = "/org/freedesktop/login1";
constexpr const char* kLoginManagerInterface = "org.freedesktop.login1.Manager";

// Everything the object knows, on the main loop. The bus callbacks hold it
// weakly: what arrives after the object is gone is dropped.
struct State {
    SystemEventsDelegate* delegate = nullptr;
    GCancellable* cancellable = g_cancellable_new();
    GDBusConnection* bus = nullptr;
    guint sleepSubscription = 0;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    ~State() {
        if (sleepSubscription != 0) {
            g_dbus_connection_signal_unsubscribe(bus, sleepSubscription);
        }
        g_clear_object(&bus);
        g_clear_object(&cancellable);
    }
};

using WeakState = std::weak_ptr<State>;

void freeWeakState(gpointer data) {
    delete static_cast<WeakState*>(data);
}

void onNetworkChanged(GNetworkMonitor*, gboolean, gpointer data) {
    auto& state = *static_cast<State*>(data);
    if (state.delegate != nullptr) {
        state.delegate->networkDidChange();
    }
}

// PrepareForSleep(true) comes before the machine sleeps, (false) once it
// has woken up.
void onPrepareForSleep(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
        return;
    }
    const auto state = static_cast<WeakState*>(data)->lock();
    gboolean sleeping = TRUE;
    g_variant_get(parameters, "(b)", &sleeping);
    if (state && !sleeping && state->delegate != nullptr) {
        state->delegate->systemDidResume();
    }
}

// Without a system bus there is nothing to hear: that is no fault of ours
// worth a word.
void onSystemBus(GObject*, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<WeakState> weak(static_cast<WeakState*>(data));
    GDBusConnection* bus = g_bus_get_finish(result, nullptr);
    const auto state = weak->lock();
    if (bus == nullptr || !state) {
        g_clear_object(&bus);
        return;
    }
    // The shell lives on without the system bus: a bus that goes away only
    // ends the reports.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    state->bus = bus;
    // With a sender's well-known name, only its owner's signals get through.
    state->sleepSubscription = g_dbus_connection_signal_subscribe(
        bus, kLoginManagerName, kLoginManagerInterface, "PrepareForSleep", kLoginManagerPath,
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onPrepareForSleep, new WeakState(state), freeWeakState);
}

class GioSystemEvents final : public SystemEvents {
public:
    GioSystemEvents()
        : monitor_(G_NETWORK_MONITOR(g_object_ref(g_network_monitor_get_default()))),
          networkHandler_(g_signal_connect(monitor_, "network-changed",
                                           G_CALLBACK(onNetworkChanged), state_.get())) {
        g_bus_get(G_BUS_TYPE_SYSTEM, state_->cancellable, onSystemBus, new WeakState(state_));
    }

    ~GioSystemEvents() override {
        g_signal_handler_disconnect(monitor_, networkHandler_);
        g_object_unref(monitor_);
        g_cancellable_cancel(state_->cancellable);
    }

    GioSystemEvents(const GioSystemEvents&) = delete;
    GioSystemEvents& operator=(const GioSystemEvents&) = delete;

    void setDelegate(SystemEventsDelegate* delegate) override { state_->delegate = delegate; }

private:
    std::shared_ptr<State> state_ = std::make_shared<State>();
    GNetworkMonitor* monitor_;
    gulong networkHandler_;
};

} // namespace

std::unique_ptr<SystemEvents> makeGioSystemEvents() {
    return std::make_unique<GioSystemEvents>();
}

} // namespace quorvel::gtk
