#include "platform/gtk/MainLoop.h"

#include <gtk/gtk.h>

namespace quorvel::gtk {

void initializeToolkit() {
    gtk_init(nullptr, nullptr);
}

bool iterateMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeoutSeconds * 1e6);
    // Wakes the loop now and then, so the deadline is honoured when nothing happens.
    const guint ticker = g_timeout_add(
        20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool finished = done();
    while (!finished && g_get_monotonic_time() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        finished = done();
    }
    g_source_remove(ticker);
    return finished;
}

} // namespace quorvel::gtk
