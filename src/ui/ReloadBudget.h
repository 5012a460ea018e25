#pragma once

#include <optional>

namespace quorvel {

// How often the page may be reloaded by itself after its process ended: a few
// times, as long as the ends come close together; a quiet spell gives the
// whole budget back.
class ReloadBudget {
public:
    static constexpr int reloads = 3;
    static constexpr double quietSeconds = 60.0;

    // Counts an end of the page's process at `now`; true while a reload may
    // follow it.
    bool take(double now) {
        if (!lastEnd || now - *lastEnd >= quietSeconds) {
            used = 0;
        }
        lastEnd = now;
        if (used >= reloads) {
            return false;
        }
        ++used;
        return true;
    }
    int usedReloads() const { return used; }
    void reset() {
        used = 0;
        lastEnd.reset();
    }

private:
    int used = 0;
    std::optional<double> lastEnd;
};

} // namespace quorvel
