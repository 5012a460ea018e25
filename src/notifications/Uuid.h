#pragma once

#include <string>

namespace quorvel {

// A new random (version 4) UUID in its 36-character upper-case form.
std::string makeUuidString();

} // namespace quorvel
