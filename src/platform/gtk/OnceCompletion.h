#pragma once

#include <functional>
#include <utility>

namespace quorvel::gtk {

// A completion that runs at most once: of its answer, its time-out and its
// cancellation, the first decides, and whatever comes later finds it spent.
// Every pending call on this side keeps its caller's completion in one of
// these, held by the call's owner or by a callback bound to the owner
// (sigc::trackable), so that the owner's end releases it without running.
// Main loop only.
template <typename... Args> class OnceCompletion final {
public:
    using Function = std::function<void(Args...)>;

    OnceCompletion() = default;
    explicit OnceCompletion(Function function) : function_(std::move(function)) {}

    // Runs the completion unless it has run; says whether it ran. It is
    // spent before it runs, so it may complete itself again from inside, to
    // no effect.
    bool complete(Args... args) {
        Function once = std::exchange(function_, nullptr);
        if (!once) {
            return false;
        }
        once(std::forward<Args>(args)...);
        return true;
    }

    // Whether it may still run.
    bool pending() const { return static_cast<bool>(function_); }

private:
    Function function_;
};

} // namespace quorvel::gtk
