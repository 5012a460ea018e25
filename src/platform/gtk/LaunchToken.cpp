#include "platform/gtk/LaunchToken.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace quorvel::gtk {

std::string takeLaunchActivationToken() {
    std::string token;
    const char* value = g_getenv("XDG_ACTIVATION_TOKEN");
    if (value != nullptr && g_utf8_validate(value, -1, nullptr) &&
        g_getenv("DESKTOP_STARTUP_ID") == nullptr) {
        token = value;
    }
    g_unsetenv("XDG_ACTIVATION_TOKEN");
    return token;
}

bool activateRunningInstance(GApplication* application, const std::string& token) {
    if (!g_application_register(application, nullptr, nullptr) ||
        !g_application_get_is_remote(application)) {
        return false;
    }
    GDBusConnection* bus = g_application_get_dbus_connection(application);
    const char* id = g_application_get_application_id(application);
    if (bus == nullptr || id == nullptr) {
        return false;
    }
    // GApplication's object path: the id with dots as slashes.
    std::string path = std::string("/") + id;
    for (char& c : path) {
        c = c == '.' ? '/' : c;
    }
    GVariantBuilder platformData;
    g_variant_builder_init(&platformData, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&platformData, "{sv}", "desktop-startup-id",
                          g_variant_new_string(token.c_str()));
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_sync(bus, id, path.c_str(), "org.gtk.Application", "Activate",
                                    g_variant_new("(a{sv})", &platformData), nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    g_clear_error(&error);
    if (reply == nullptr) {
        return false;
    }
    g_variant_unref(reply);
    return true;
}

void useActivationTokenForNextWindow(const std::string& token) {
    GdkDisplay* display = gdk_display_get_default();
#ifdef GDK_WINDOWING_WAYLAND
    if (GDK_IS_WAYLAND_DISPLAY(display)) {
        gdk_wayland_display_set_startup_notification_id(display, token.c_str());
    }
#endif
#ifdef GDK_WINDOWING_X11
    if (GDK_IS_X11_DISPLAY(display)) {
        gdk_x11_display_set_startup_notification_id(display, token.c_str());
    }
#endif
}

} // namespace quorvel::gtk
