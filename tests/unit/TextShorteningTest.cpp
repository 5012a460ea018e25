#include "notifications/TextShortening.h"

#include <gtest/gtest.h>
#include <string>

namespace quorvel {
namespace {

std::string repeat(std::string_view piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text.append(piece);
    }
    return text;
}

const std::string kEllipsis = "…";

TEST(TextShorteningTest, CutsAtTheLimitCountingCharactersNotBytes) {
    EXPECT_EQ(trimmedNotificationText(repeat("a", 80), 80), repeat("a", 80));
    EXPECT_EQ(trimmedNotificationText(repeat("a", 81), 80), repeat("a", 79) + kEllipsis);
    EXPECT_EQ(trimmedNotificationText(repeat("中", 320), 320), repeat("中", 320));
    EXPECT_EQ(trimmedNotificationText(repeat("中", 321), 320), repeat("中", 319) + kEllipsis);
    // Blanks at either end are characters like any other and are kept.
    EXPECT_EQ(trimmedNotificationText("  ab  \n", 5), "  ab" + kEllipsis);
    EXPECT_EQ(trimmedNotificationText("ab " + repeat("c", 10), 4), "ab " + kEllipsis);
}

TEST(TextShorteningTest, NeverCutsInsideACharacter) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    const std::string flag = "\U0001F1E8\U0001F1F3";
    const std::string thumb = "\U0001F44D\U0001F3FD";
    const std::string accented = "e\u0301\u0323";
    for (const std::string& character : {family, flag, thumb, accented, std::string("\r\n")}) {
        EXPECT_EQ(trimmedNotificationText(repeat(character, 80), 80), repeat(character, 80));
        EXPECT_EQ(trimmedNotificationText(repeat(character, 100), 80),
                  repeat(character, 79) + kEllipsis);
    }
}

TEST(TextShorteningTest, EmptyTextsAndSmallLimits) {
    for (const std::size_t limit : {0u, 1u, 80u, 320u}) {
        EXPECT_EQ(trimmedNotificationText("", limit), "");
    }
    EXPECT_EQ(trimmedNotificationText("a", 1), "a");
    EXPECT_EQ(trimmedNotificationText("ab", 1), kEllipsis);
    EXPECT_EQ(trimmedNotificationText("中", 0), "中") << "a limit of 0 counts as 1";
    EXPECT_EQ(trimmedNotificationText("ab", 0), kEllipsis);
}

TEST(TextShorteningTest, IllFormedUtf8IsCountedNotCrashedOn) {
    // Each stray byte counts as one character and is kept as it is.
    EXPECT_EQ(trimmedNotificationText(repeat("\xFF", 10), 10), repeat("\xFF", 10));
    EXPECT_EQ(trimmedNotificationText(repeat("\xFF", 11), 10), repeat("\xFF", 9) + kEllipsis);
    EXPECT_EQ(trimmedNotificationText("ab\xE4\xB8", 2), "a" + kEllipsis);
}

} // namespace
} // namespace quorvel
