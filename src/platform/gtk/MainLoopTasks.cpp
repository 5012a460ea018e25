#include "platform/gtk/MainLoopTasks.h"

#include <utility>

namespace quorvel::gtk {

namespace {

using Block = std::function<void()>;

gboolean runOnce(gpointer data) {
    (*static_cast<Block*>(data))();
    return G_SOURCE_REMOVE;
}

void destroyBlock(gpointer data) {
    delete static_cast<Block*>(data);
}

} // namespace

void postToMainLoop(std::function<void()> block) {
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new Block(std::move(block)), destroyBlock);
}

} // namespace quorvel::gtk
