#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Resolves a URI reference against an absolute base URI, by the standard
// reference resolution of RFC 3986 (section 5.2). No value when either text
// holds characters a URI cannot carry, or the base is not absolute.
std::optional<std::string> resolveUrlReference(std::string_view base, std::string_view reference);

} // namespace quorvel
