#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Shortens `text` (UTF-8) to at most `limit` user-perceived characters (extended grapheme
// clusters: a letter with its combining marks, or a whole emoji sequence, counts as one). A text
// of at most `limit` characters comes back unchanged; a longer one as its first `limit` - 1
// characters followed by "…" (U+2026), so never cut inside a character. Nothing else is
// touched: no trimming of white space at either end.
// A limit of 0 counts as 1: a text of more than one character becomes "…".
// Ill-formed UTF-8 is not rejected: each ill-formed sequence counts as one character and its
// bytes are kept as they are in the part that is returned.
std::string trimmedNotificationText(std::string_view text, std::size_t limit);

} // namespace quorvel
