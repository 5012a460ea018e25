#include "notifications/TextShortening.h"

#include <cstdint>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

namespace quorvel {

namespace {

constexpr std::string_view kEllipsis = "…";

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

} // namespace

std::string trimmedNotificationText(std::string_view text, std::size_t limit) {
    if (limit == 0) {
        limit = 1;
    }
    // Every character takes at least one byte. Beyond INT32_MAX bytes ICU cannot index the
    // text; no notification comes near that, so such a text is passed on as it is.
    if (text.size() <= limit || text.size() > static_cast<std::size_t>(INT32_MAX)) {
        return std::string(text);
    }

    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UText, UTextCloser> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status));
    const std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !utext || !characters) {
        return std::string(text); // without ICU's data there is no safe place to cut
    }
    characters->setText(utext.get(), status);
    if (U_FAILURE(status)) {
        return std::string(text);
    }

    // Boundaries are byte offsets into `text`. Find the end of character limit - 1 (the cut) and
    // see whether the text has more than `limit` characters at all.
    std::int32_t cut = 0;
    std::int32_t boundary = characters->first();
    for (std::size_t count = 0; count < limit; ++count) {
        if (count == limit - 1) {
            cut = boundary;
        }
        boundary = characters->next();
        if (boundary == icu::BreakIterator::DONE) {
            return std::string(text);
        }
    }
    if (characters->next() == icu::BreakIterator::DONE) {
        return std::string(text); // exactly `limit` characters
    }

    std::string result(text.substr(0, static_cast<std::size_t>(cut)));
    result.append(kEllipsis);
    return result;
}

} // namespace quorvel
