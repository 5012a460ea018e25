#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Strict UTF-8 check: no overlong forms, no surrogates (U+D800..U+DFFF), nothing above U+10FFFF,
// no truncated sequences. The empty text is valid.
bool isValidUtf8(std::string_view bytes);

// Migrates the text of the configuration file, in this order:
//  1. every "Marrowfen", then every "Tarnwick" (former product names) becomes "Quorvel";
//  2. the text is split into lines at each of U+000A, U+000B, U+000C, U+000D, U+0085, U+2028 and
//     U+2029, every one a separator of its own (so CR LF yields an empty line between the two);
//  3. every line that starts exactly with "QUOTE_SYNC_INTERVAL_SECONDS=" becomes
//     "QUOTE_SYNC_INTERVAL_SECONDS=180"; when there is none, that line is appended;
//  4. the lines are joined with a single LF, none after the last.
// The result is a fixed point: migrating it again returns it unchanged.
// Precondition: `text` is valid UTF-8 (invalid input is not rejected, but the caller must not
// write the result back; see createSupportFilesIn).
std::string migrateConfigText(std::string_view text);

} // namespace quorvel
