#include "platform/gtk/GlibMainQueue.h"

#include <glib.h>

namespace quorvel::gtk {

namespace {

using Block = std::function<void()>;

gboolean runOnce(gpointer data) {
    (*static_cast<Block*>(data))();
    return G_SOURCE_REMOVE;
}

gboolean runRepeatedly(gpointer data) {
    (*static_cast<Block*>(data))();
    return G_SOURCE_CONTINUE;
}

void destroyBlock(gpointer data) { delete static_cast<Block*>(data); }

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

class GlibMainQueue final : public MainQueue {
public:
    void post(Block block) override {
        g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new Block(std::move(block)), destroyBlock);
    }

    void postAfter(double seconds, Block block) override {
        g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runOnce,
                           new Block(std::move(block)), destroyBlock);
    }

    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, Block block) override {
        const guint id = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds),
                                            runRepeatedly, new Block(std::move(block)),
                                            destroyBlock);
        return std::make_unique<GlibTimer>(id);
    }
};

} // namespace

std::unique_ptr<MainQueue> makeGlibMainQueue() { return std::make_unique<GlibMainQueue>(); }

} // namespace quorvel::gtk
