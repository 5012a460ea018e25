// Text shortening: the first input byte is the limit, the rest the text. The result has at most
// max(limit, 1) user-perceived characters and is either the text itself (exactly when the text
// fits) or a prefix of it that ends on a character boundary followed by "…".
#include "FuzzCheck.h"
#include "notifications/TextShortening.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace {

std::size_t countCharacters(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    UText* utext =
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    FUZZ_REQUIRE(U_SUCCESS(status));
    characters->setText(utext, status);
    std::size_t count = 0;
    characters->first();
    while (characters->next() != icu::BreakIterator::DONE) {
        ++count;
    }
    utext_close(utext);
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t limit = data[0] % 64;
    const std::size_t effective = limit == 0 ? 1 : limit;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string result = quorvel::trimmedNotificationText(text, limit);

    const std::size_t textCount = countCharacters(text);
    if (textCount <= effective) {
        FUZZ_REQUIRE(result == text);
        return 0;
    }
    constexpr std::string_view ellipsis = "…";
    FUZZ_REQUIRE(result.size() >= ellipsis.size() && result.ends_with(ellipsis));
    const std::string_view prefix =
        std::string_view(result).substr(0, result.size() - ellipsis.size());
    FUZZ_REQUIRE(text.starts_with(prefix));
    FUZZ_REQUIRE(countCharacters(prefix) == effective - 1);
    FUZZ_REQUIRE(countCharacters(result) <= effective);
    return 0;
}
