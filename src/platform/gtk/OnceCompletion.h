#pragma once

#include <functional>
#include <utility>

namespace quorvel::gtk {

// Something that can be told never to run.
class Releasable {
public:
    virtual ~Releasable() = default;
    virtual void release() = 0;
};

// A completion that runs at most once: of its answer, its time-out and its
// cancellation, the first decides, and whatever comes later finds it spent.
// Main loop only.
template <typename... Args> class OnceCompletion final : public Releasable {
public:
    using Function = std::function<void(Args...)>;

    OnceCompletion() = default;
    explicit OnceCompletion(Function function) : function_(std::move(function)) {}

    // Runs the completion unless it has run or been released; says whether
    // it ran. It is spent before it runs, so it may complete itself again
    // from inside, to no effect.
    bool complete(Args... args) {
        Function once = std::exchange(function_, nullptr);
        if (!once) {
            return false;
        }
        once(std::forward<Args>(args)...);
        return true;
    }

    // From now on the completion never runs; it is let go of at once.
    void release() override { function_ = nullptr; }

    // Whether it may still run.
    bool pending() const { return static_cast<bool>(function_); }

private:
    Function function_;
};

} // namespace quorvel::gtk
