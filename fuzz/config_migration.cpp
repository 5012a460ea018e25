// Configuration migration: the UTF-8 check agrees with ICU's strict decoder (so a file that is
// not UTF-8 is never rewritten), and for UTF-8 text the migration is a fixed point after one
// pass, leaves only LF line breaks, no former names, and at least one interval line.
#include "FuzzCheck.h"
#include "app/ConfigMigration.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unicode/ustring.h>
#include <vector>

namespace {

bool icuAcceptsUtf8(std::string_view bytes) {
    if (bytes.size() > INT32_MAX / 2) {
        return false;
    }
    std::vector<UChar> buffer(bytes.size() + 1);
    std::int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(buffer.data(), static_cast<std::int32_t>(buffer.size()), &length, bytes.data(),
                  static_cast<std::int32_t>(bytes.size()), &status);
    return U_SUCCESS(status);
}

bool hasIntervalLine(std::string_view text) {
    constexpr std::string_view line = "QUOTE_SYNC_INTERVAL_SECONDS=180";
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        if (text.substr(start, end == std::string_view::npos ? end : end - start) == line) {
            return true;
        }
        if (end == std::string_view::npos) {
            return false;
        }
        start = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool valid = quorvel::isValidUtf8(text);
    FUZZ_REQUIRE(valid == icuAcceptsUtf8(text));
    if (!valid) {
        return 0; // such a file is left untouched
    }
    const std::string once = quorvel::migrateConfigText(text);
    FUZZ_REQUIRE(quorvel::isValidUtf8(once));
    FUZZ_REQUIRE(quorvel::migrateConfigText(once) == once);
    FUZZ_REQUIRE(once.find("Marrowfen") == std::string::npos);
    FUZZ_REQUIRE(once.find("Tarnwick") == std::string::npos);
    for (const std::string_view separator :
         {"\r", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        FUZZ_REQUIRE(once.find(separator) == std::string::npos);
    }
    FUZZ_REQUIRE(hasIntervalLine(once));
    return 0;
}
