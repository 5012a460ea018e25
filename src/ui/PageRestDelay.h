#pragma once

namespace quorvel {

// How long the window stays closed before its page gives its memory back
// (bench/ reads this figure from here).
inline constexpr double hiddenSecondsBeforeRest = 600.0;

} // namespace quorvel
