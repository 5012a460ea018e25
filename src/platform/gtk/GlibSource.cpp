#include "platform/gtk/GlibSource.h"

#include <glib-unix.h>
#include <utility>

namespace quorvel::gtk {

namespace {

struct Callback {
    std::function<void()> block;
    bool repeats;
};

// GLib keeps the callback's data until a dispatch under way has returned,
// even when the block removes its own source.
gboolean dispatch(gpointer data) {
    auto* callback = static_cast<Callback*>(data);
    callback->block();
    return callback->repeats ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void destroyCallback(gpointer data) {
    delete static_cast<Callback*>(data);
}

guint clampedMilliseconds(std::chrono::milliseconds span) {
    if (span.count() <= 0) {
        return 0;
    }
    return span.count() >= G_MAXUINT ? G_MAXUINT : static_cast<guint>(span.count());
}

} // namespace

GlibSource::GlibSource(GSource* source, std::function<void()> block, bool repeats)
    : source_(source) {
    g_source_set_callback(source_, dispatch, new Callback{std::move(block), repeats},
                          destroyCallback);
    g_source_attach(source_, nullptr);
}

GlibSource GlibSource::after(std::chrono::milliseconds delay, std::function<void()> block) {
    return {g_timeout_source_new(clampedMilliseconds(delay)), std::move(block), false};
}

GlibSource GlibSource::idle(std::function<void()> block) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    return {source, std::move(block), false};
}

GlibSource GlibSource::every(std::chrono::milliseconds period, std::function<void()> block) {
    return {g_timeout_source_new(clampedMilliseconds(period)), std::move(block), true};
}

GlibSource GlibSource::onSignal(int signalNumber, std::function<void()> block) {
    return {g_unix_signal_source_new(signalNumber), std::move(block), true};
}

GlibSource::~GlibSource() {
    cancel();
}

GlibSource::GlibSource(GlibSource&& other) noexcept
    : source_(std::exchange(other.source_, nullptr)) {}

GlibSource& GlibSource::operator=(GlibSource&& other) noexcept {
    if (this != &other) {
        cancel();
        source_ = std::exchange(other.source_, nullptr);
    }
    return *this;
}

void GlibSource::cancel() {
    if (GSource* source = std::exchange(source_, nullptr)) {
        g_source_destroy(source);
        g_source_unref(source);
    }
}

bool GlibSource::pending() const {
    return source_ != nullptr && !g_source_is_destroyed(source_);
}

} // namespace quorvel::gtk
