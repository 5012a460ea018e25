#include "app/ConfigMigration.h"

#include "app/ConfigTemplate.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quorvel {
namespace {

constexpr const char* kKey = "QUOTE_SYNC_INTERVAL_SECONDS=180";

TEST(ConfigTemplateTest, IsTheSixteenLinesWithOneSenderAddress) {
    const std::vector<std::string> lines = {
        "# Quorvel桌面版配置",
        "# 修改后重启 App 生效。",
        "",
        "QUOTE_PROVIDER=tencent",
        "QUOTE_SYNC_INTERVAL_SECONDS=180",
        "",
        "EMAIL_DELIVERY_MODE=log",
        "EMAIL_TO=",
        "EMAIL_FROM=" + std::string(defaultSenderAddress),
        "",
        "CLOUDFLARE_ACCOUNT_ID=",
        "CLOUDFLARE_API_TOKEN=",
        "CLOUDFLARE_EMAIL_FROM=Quorvel <" + std::string(defaultSenderAddress) + ">",
        "",
        "RESEND_API_KEY=",
        "RESEND_FROM=Quorvel <" + std::string(defaultSenderAddress) + ">",
    };
    std::string expected = lines.front();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        expected += "\n" + lines[i];
    }
    EXPECT_EQ(configTemplate(), expected);
    EXPECT_FALSE(configTemplate().ends_with('\n'));
    EXPECT_EQ(defaultSenderAddress, "alerts@quorvel.invalid");
    // The template is what a migration produces, so a fresh file is never rewritten.
    EXPECT_EQ(migrateConfigText(configTemplate()), configTemplate());
}

TEST(Utf8ValidationTest, AcceptsWellFormedAndRefusesEveryIllFormedKind) {
    for (const std::string_view valid :
         {"", "plain ascii", "中文 é", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF",
          "\xEE\x80\x80", "\xC2\x80", "\xE0\xA0\x80", "\xF0\x90\x80\x80"}) {
        EXPECT_TRUE(isValidUtf8(valid)) << valid;
    }
    for (const std::string_view bytes :
         {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
          "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80",
          "\xF5\x80\x80\x80", "\xFF", "\x80", "a\xE4\xB8", "\xE4\x41\x41", "\xF0\x9F\x98\x41",
          "\xC2"}) {
        EXPECT_FALSE(isValidUtf8(bytes)) << testing::PrintToString(std::string(bytes));
    }
    EXPECT_TRUE(isValidUtf8(std::string_view("a\0b", 3)));
}

struct MigrationCase {
    const char* name;
    std::string input;
    std::string expected;
};

class ConfigMigrationTest : public testing::TestWithParam<MigrationCase> {};

TEST_P(ConfigMigrationTest, ProducesTheExpectedTextAndIsStable) {
    const std::string migrated = migrateConfigText(GetParam().input);
    EXPECT_EQ(migrated, GetParam().expected);
    EXPECT_EQ(migrateConfigText(migrated), migrated) << "a second start must change nothing";
}

const std::string k = kKey;

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigMigrationTest,
    testing::Values(
        MigrationCase{"EmptyFile", "", "\n" + k},
        MigrationCase{"OtherValue", "A=1\nQUOTE_SYNC_INTERVAL_SECONDS=60\nB=2",
                      "A=1\n" + k + "\nB=2"},
        MigrationCase{"BarePrefix", "QUOTE_SYNC_INTERVAL_SECONDS=", k},
        MigrationCase{"TwoKeyLines",
                      "QUOTE_SYNC_INTERVAL_SECONDS=5\nX=\nQUOTE_SYNC_INTERVAL_SECONDS=abc=d",
                      k + "\nX=\n" + k},
        MigrationCase{"CommentedAndIndentedKeysDoNotCount",
                      "# QUOTE_SYNC_INTERVAL_SECONDS=60\n  QUOTE_SYNC_INTERVAL_SECONDS=60\n"
                      "quote_sync_interval_seconds=60\nQUOTE_SYNC_INTERVAL_SECONDS =60",
                      "# QUOTE_SYNC_INTERVAL_SECONDS=60\n  QUOTE_SYNC_INTERVAL_SECONDS=60\n"
                      "quote_sync_interval_seconds=60\nQUOTE_SYNC_INTERVAL_SECONDS =60\n" +
                          k},
        MigrationCase{"NoKeyAndTrailingLineFeed", "A=1\n", "A=1\n\n" + k},
        MigrationCase{"CrLfBecomesTwoLineFeeds", "A=1\r\nQUOTE_SYNC_INTERVAL_SECONDS=60\r\n",
                      "A=1\n\n" + k + "\n\n"},
        MigrationCase{"EveryUnicodeSeparator",
                      "a\vb\fc\rd\xC2\x85"
                      "e\xE2\x80\xA8"
                      "f\xE2\x80\xA9QUOTE_SYNC_INTERVAL_SECONDS=1",
                      "a\nb\nc\nd\ne\nf\n" + k},
        MigrationCase{"LookAlikeCharactersAreNotSeparators",
                      // U+2027, U+202A, U+00A0, U+0084 and Chinese text stay inside the line.
                      "a\xE2\x80\xA7"
                      "b\xE2\x80\xAA"
                      "c\xC2\xA0\xC2\x84中文=1\n" +
                          k,
                      "a\xE2\x80\xA7"
                      "b\xE2\x80\xAA"
                      "c\xC2\xA0\xC2\x84中文=1\n" +
                          k},
        MigrationCase{"FormerNamesEverywhere",
                      "# Tarnwick桌面版配置\nRESEND_FROM=Marrowfen <a@b.c>\nX=TarnwickMarrowfen "
                      "marrowfen TARNWICK\n" +
                          k,
                      "# Quorvel桌面版配置\nRESEND_FROM=Quorvel <a@b.c>\nX=QuorvelQuorvel "
                      "marrowfen TARNWICK\n" +
                          k},
        MigrationCase{"FormerNameInsideTheKeyLine", "QUOTE_SYNC_INTERVAL_SECONDS=Tarnwick", k}),
    [](const testing::TestParamInfo<MigrationCase>& param) {
        return std::string(param.param.name);
    });

} // namespace
} // namespace quorvel
