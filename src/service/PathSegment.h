#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Encodes `segment` so that it stays exactly one segment of a URL path, whatever it holds: the
// RFC 3986 unreserved characters (ALPHA, DIGIT, "-", ".", "_", "~") are kept, every other byte
// becomes "%" and two upper-case hex digits (so UTF-8 text is encoded byte by byte). A segment
// of exactly "." or ".." becomes "%2E" or "%2E%2E", so that resolving the URL cannot remove it
// or climb to the parent. The empty segment stays empty (there is nothing to encode).
// Typical identifiers (UUIDs, numbers) come back unchanged.
std::string encodePathSegment(std::string_view segment);

} // namespace quorvel
