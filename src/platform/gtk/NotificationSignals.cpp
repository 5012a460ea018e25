#include "platform/gtk/NotificationSignals.h"

#include "platform/gtk/NotificationServer.h"

namespace quorvel::gtk {

namespace {

using WeakListener = std::weak_ptr<NotificationSignalListener>;

// The listener a signal goes to, if it still exists and the signal's
// parameters have the type the signal is specified with; the parameters are
// then unpacked by `format` into `values`.
template <typename... Values>
std::shared_ptr<NotificationSignalListener> listenerFor(gpointer data, GVariant* parameters,
                                                        const char* type, const char* format,
                                                        Values*... values) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE(type))) {
        return nullptr;
    }
    auto listener = static_cast<WeakListener*>(data)->lock();
    if (listener) {
        g_variant_get(parameters, format, values...);
    }
    return listener;
}

// ActionInvoked and ActivationToken: a notification's id and a text (the
// action, the token), handed to the listener's method for that signal.
template <void (NotificationSignalListener::*method)(guint32, const std::string&)>
void onIdAndText(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                 GVariant* parameters, gpointer data) {
    guint32 id = 0;
    const gchar* text = nullptr;
    if (const auto listener = listenerFor(data, parameters, "(us)", "(u&s)", &id, &text)) {
        ((*listener).*method)(id, text);
    }
}

void onNotificationClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, gpointer data) {
    guint32 id = 0;
    guint32 reason = 0;
    if (const auto listener = listenerFor(data, parameters, "(uu)", "(uu)", &id, &reason)) {
        listener->notificationClosed(id);
    }
}

// NameOwnerChanged(name, old owner, new owner): an empty new owner means
// the server went away.
void onNameOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant* parameters, gpointer data) {
    const gchar** notCollected = nullptr;
    const gchar* newOwner = nullptr;
    if (const auto listener = listenerFor(data, parameters, "(sss)", "(&s&s&s)", notCollected,
                                          notCollected, &newOwner)) {
        listener->notificationServerChanged(*newOwner != '\0');
    }
}

void freeListener(gpointer data) {
    delete static_cast<WeakListener*>(data);
}

} // namespace

NotificationSignals::~NotificationSignals() {
    unsubscribe();
}

void NotificationSignals::subscribe(GDBusConnection* bus, const WeakListener& listener) {
    unsubscribe();
    bus_ = G_DBUS_CONNECTION(g_object_ref(bus));
    const auto add = [&](const char* sender, const char* interface, const char* member,
                         const char* path, const char* arg0, GDBusSignalCallback callback) {
        subscriptions_.push_back(g_dbus_connection_signal_subscribe(
            bus, sender, interface, member, path, arg0, G_DBUS_SIGNAL_FLAGS_NONE, callback,
            new WeakListener(listener), freeListener));
    };
    add(kNotificationsBusName, kNotificationsInterface, "ActionInvoked", kNotificationsObjectPath,
        nullptr, onIdAndText<&NotificationSignalListener::notificationActionInvoked>);
    add(kNotificationsBusName, kNotificationsInterface, "ActivationToken", kNotificationsObjectPath,
        nullptr, onIdAndText<&NotificationSignalListener::notificationActivationToken>);
    add(kNotificationsBusName, kNotificationsInterface, "NotificationClosed",
        kNotificationsObjectPath, nullptr, onNotificationClosed);
    add("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
        kNotificationsBusName, onNameOwnerChanged);
}

void NotificationSignals::unsubscribe() {
    if (bus_ != nullptr) {
        for (const guint subscription : subscriptions_) {
            g_dbus_connection_signal_unsubscribe(bus_, subscription);
        }
        g_clear_object(&bus_);
    }
    subscriptions_.clear();
}

} // namespace quorvel::gtk
