#pragma once

#include <chrono>
#include <functional>
#include <glib.h>

namespace quorvel::gtk {

// A source on the default main loop that runs a block: once after a delay,
// once when the loop is next idle, or after every period. The source is
// removed when its owner lets go of it (destroyed, assigned over, or
// cancel()), so that its block never runs after that; once a one-off block
// has run, the source is gone by itself. Main loop only.
class GlibSource {
public:
    GlibSource() = default;
    static GlibSource after(std::chrono::milliseconds delay, std::function<void()> block);
    static GlibSource idle(std::function<void()> block);
    static GlibSource every(std::chrono::milliseconds period, std::function<void()> block);
    // Runs the block on the main loop each time the process gets the signal.
    static GlibSource onSignal(int signalNumber, std::function<void()> block);

    ~GlibSource();
    GlibSource(GlibSource&& other) noexcept;
    GlibSource& operator=(GlibSource&& other) noexcept;
    GlibSource(const GlibSource&) = delete;
    GlibSource& operator=(const GlibSource&) = delete;

    // Removes the source; its block will not run (again).
    void cancel();
    // Whether its block may still run.
    bool pending() const;

private:
    GlibSource(GSource* source, std::function<void()> block, bool repeats);
    GSource* source_ = nullptr;
};

} // namespace quorvel::gtk
