#pragma once

#include <functional>
#include <glib.h>

namespace quorvel::gtk {

// Runs the block on the default main loop, later.
void postToMainLoop(std::function<void()> block);

} // namespace quorvel::gtk
