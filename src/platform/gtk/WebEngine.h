#pragma once

#include <glib.h>
#include <optional>
#include <string>

namespace quorvel::gtk {

// Whether the engine's bubblewrap sandbox can start here. The trial run it
// needs starts when this is created, so that it runs while the toolkit
// starts; result() waits for it.
class SandboxTrial {
public:
    SandboxTrial();
    ~SandboxTrial();
    SandboxTrial(const SandboxTrial&) = delete;
    SandboxTrial& operator=(const SandboxTrial&) = delete;

    // Why the sandbox cannot start, or nothing when it can.
    std::optional<std::string> result();

private:
    GPid pid = 0;
    std::optional<std::string> failure;
};

// Sets up the engine's shared web context once, before any view or web
// process exists: web content runs in the engine's bubblewrap sandbox where
// that sandbox can start. Returns a line for the diagnostic log when web
// content has to run without it.
std::optional<std::string> prepareWebEngine(SandboxTrial& trial);

} // namespace quorvel::gtk
