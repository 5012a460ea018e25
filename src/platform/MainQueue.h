#pragma once

#include "platform/Interface.h"

#include <functional>
#include <memory>

namespace quorvel {

// A block waiting for its time on the main queue. Its owner keeps it in a
// member for as long as the block may run: the block never runs (again) once
// the handle is invalidated, destroyed or replaced by the next one.
struct Timer : Interface {
    virtual void invalidate() = 0;
};

// Work for the thread that runs the user interface. Blocks run in the order
// they were posted, and keep running while a modal dialog is open.
struct MainQueue : Interface {
    virtual void post(std::function<void()> block) = 0;
    // Runs the block once, after the delay, unless its handle goes first.
    [[nodiscard]] virtual std::unique_ptr<Timer> postAfter(double seconds,
                                                           std::function<void()> block) = 0;
    // The first firing comes one interval after the call.
    [[nodiscard]] virtual std::unique_ptr<Timer>
    scheduleRepeatingTimer(double seconds, std::function<void()> block) = 0;
    // Seconds on a clock that only moves forward, from an arbitrary start;
    // like the timers, it stands still while the machine sleeps.
    virtual double now() const = 0;
};

} // namespace quorvel
