#pragma once

#include "platform/NotificationCenter.h"

#include <gio/gio.h>
#include <string>

namespace quorvel::gtk {

// The arguments of one Notify call (a floating GVariant): application
// "Quorvel", a "default" action, the texts as valid UTF-8, the body escaped
// when the server may read it as markup, and hints for the sound and for how
// the notification is presented.
GVariant* notifyParameters(const NotificationRequest& request, unsigned presentation,
                           bool bodyMayBeMarkup);

// Markup's special characters as entities.
std::string escapeMarkup(const std::string& text);

} // namespace quorvel::gtk
