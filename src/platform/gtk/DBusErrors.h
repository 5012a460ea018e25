#pragma once

#include <glib.h>
#include <string>

namespace quorvel::gtk {

// The message of an error from a bus call, without D-Bus's remote error name.
std::string describeError(const GError* error);

} // namespace quorvel::gtk
