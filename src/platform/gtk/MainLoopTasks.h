#pragma once

#include <chrono>
#include <functional>
#include <glib.h>

namespace quorvel::gtk {

// Runs the block on the default main loop, later.
void postToMainLoop(std::function<void()> block);

// Runs the block once on the default main loop after the delay; returns the
// source, which g_source_remove cancels.
guint runOnMainLoopAfter(std::chrono::milliseconds delay, std::function<void()> block);

} // namespace quorvel::gtk
