#include "platform/gtk/GlibMainQueue.h"

#include <glib.h>
#include <set>

namespace quorvel::gtk {

namespace {

using Block = std::function<void()>;

guint milliseconds(double seconds) {
    return seconds <= 0 ? 0 : static_cast<guint>(seconds * 1000.0 + 0.5);
}

class GlibTimer final : public Timer {
public:
    explicit GlibTimer(guint id) : sourceId(id) {}
    ~GlibTimer() override { invalidate(); }
    void invalidate() override {
        if (sourceId != 0) {
            g_source_remove(sourceId);
            sourceId = 0;
        }
    }

private:
    guint sourceId;
};

gboolean runRepeatedly(gpointer data) {
    (*static_cast<Block*>(data))();
    return G_SOURCE_CONTINUE;
}

void destroyBlock(gpointer data) {
    delete static_cast<Block*>(data);
}

// Blocks not yet run when the queue goes away are dropped with it, so none
// runs against objects that no longer exist.
class GlibMainQueue final : public MainQueue {
public:
    ~GlibMainQueue() override {
        const std::set<guint> remaining = std::move(pending);
        for (const guint id : remaining) {
            g_source_remove(id);
        }
    }

    void post(Block block) override { schedule(0, std::move(block), true); }

    void postAfter(double seconds, Block block) override {
        schedule(milliseconds(seconds), std::move(block), false);
    }

    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, Block block) override {
        const guint id =
            g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runRepeatedly,
                               new Block(std::move(block)), destroyBlock);
        return std::make_unique<GlibTimer>(id);
    }

    // The clock of the GLib timers (CLOCK_MONOTONIC on Linux).
    double now() const override { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

private:
    struct Pending {
        GlibMainQueue* queue;
        guint id;
        Block block;
    };

    void schedule(guint delay, Block block, bool idle) {
        auto* entry = new Pending{this, 0, std::move(block)};
        const auto run = [](gpointer data) -> gboolean {
            auto* self = static_cast<Pending*>(data);
            self->queue->pending.erase(self->id);
            self->block();
            return G_SOURCE_REMOVE;
        };
        const auto destroy = [](gpointer data) { delete static_cast<Pending*>(data); };
        entry->id = idle ? g_idle_add_full(G_PRIORITY_DEFAULT, run, entry, destroy)
                         : g_timeout_add_full(G_PRIORITY_DEFAULT, delay, run, entry, destroy);
        pending.insert(entry->id);
    }

    std::set<guint> pending;
};

} // namespace

std::unique_ptr<MainQueue> makeGlibMainQueue() {
    return std::make_unique<GlibMainQueue>();
}

} // namespace quorvel::gtk
