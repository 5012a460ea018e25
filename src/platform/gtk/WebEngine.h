#pragma once

#include <optional>
#include <string>

namespace quorvel::gtk {

// Sets up the engine's shared web context once, before any view or web
// process exists: web content runs in the engine's bubblewrap sandbox where
// that sandbox can start. Returns a line for the diagnostic log when web
// content has to run without it.
std::optional<std::string> prepareWebEngine();

} // namespace quorvel::gtk
