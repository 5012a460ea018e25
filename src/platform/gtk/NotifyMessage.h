#pragma once

#include "platform/NotificationCenter.h"

#include <gio/gio.h>
#include <string>

namespace quorvel::gtk {

// The arguments of one Notify call (a floating GVariant): application
// "Quorvel", a "default" action, the texts as valid UTF-8, the body escaped
// when the server may read it as markup, and a hint for the sound.
GVariant* notifyParameters(const NotificationRequest& request, bool bodyMayBeMarkup);

// Markup's special characters as entities.
std::string escapeMarkup(const std::string& text);

} // namespace quorvel::gtk
