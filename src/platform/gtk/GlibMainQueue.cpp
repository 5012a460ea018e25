#include "platform/gtk/GlibMainQueue.h"

#include "platform/gtk/GlibSource.h"

#include <algorithm>
#include <glib.h>
#include <vector>

namespace quorvel::gtk {

namespace {

using Block = std::function<void()>;

std::chrono::milliseconds milliseconds(double seconds) {
    return std::chrono::milliseconds(seconds <= 0 ? 0
                                                  : static_cast<long long>(seconds * 1000.0 + 0.5));
}

class GlibTimer final : public Timer {
public:
    explicit GlibTimer(GlibSource waiting) : source(std::move(waiting)) {}
    void invalidate() override { source.cancel(); }

private:
    GlibSource source;
};

// Posted blocks not yet run when the queue goes away are dropped with it, so
// none runs against objects that no longer exist; delayed ones go with their
// handles.
class GlibMainQueue final : public MainQueue {
public:
    void post(Block block) override { keep(GlibSource::idle(std::move(block))); }

    std::unique_ptr<Timer> postAfter(double seconds, Block block) override {
        return std::make_unique<GlibTimer>(
            GlibSource::after(milliseconds(seconds), std::move(block)));
    }

    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, Block block) override {
        return std::make_unique<GlibTimer>(
            GlibSource::every(milliseconds(seconds), std::move(block)));
    }

    // The clock of the GLib timers (CLOCK_MONOTONIC on Linux).
    double now() const override { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

private:
    // The sources of blocks that have run are let go of as new ones come.
    void keep(GlibSource source) {
        std::erase_if(pending, [](const GlibSource& kept) { return !kept.pending(); });
        pending.push_back(std::move(source));
    }

    std::vector<GlibSource> pending;
};

} // namespace

std::unique_ptr<MainQueue> makeGlibMainQueue() {
    return std::make_unique<GlibMainQueue>();
}

} // namespace quorvel::gtk
