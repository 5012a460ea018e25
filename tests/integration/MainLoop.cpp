#include "integration/MainLoop.h"

#include "platform/gtk/GlibSource.h"

#include <gtk/gtk.h>

namespace quorvel::gtk {

void initializeToolkit() {
    gtk_init(nullptr, nullptr);
}

bool iterateMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeoutSeconds * 1e6);
    // Wakes the loop now and then, so the deadline is honoured when nothing happens.
    const GlibSource ticker = GlibSource::every(std::chrono::milliseconds(20), [] {});
    bool finished = done();
    while (!finished && g_get_monotonic_time() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        finished = done();
    }
    return finished;
}

} // namespace quorvel::gtk
