#pragma once

#include <algorithm>

namespace quorvel {

// Delays between tries that double from a first one up to a longest one.
class Backoff {
public:
    constexpr Backoff(double first, double longest) : first_(first), longest_(longest) {}

    // The delay before the next try; the one after it is twice as long.
    double next() {
        const double delay = current_;
        current_ = std::min(current_ * 2, longest_);
        return delay;
    }
    void reset() { current_ = first_; }

private:
    double first_;
    double longest_;
    double current_ = first_;
};

} // namespace quorvel
