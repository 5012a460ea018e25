#include "platform/gtk/DBusErrors.h"

#include <gio/gio.h>

namespace quorvel::gtk {

std::string describeError(const GError* error) {
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

} // namespace quorvel::gtk
