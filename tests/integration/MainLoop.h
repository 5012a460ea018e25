#pragma once

#include <functional>

namespace quorvel::gtk {

// Initialises the toolkit without an application object (tests).
void initializeToolkit();

// Runs the default main context until `done` returns true or the time runs
// out; returns the last value of `done`.
bool iterateMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds);

} // namespace quorvel::gtk
