#include "app/Autostart.h"
#include "app/CommandLine.h"
#include "unit/AppFixture.h"

#include <filesystem>
#include <unistd.h>

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;

TEST(CommandLineTest, AnswersBeforeAnythingStarts) {
    struct Case {
        CommandLineOptions options;
        std::optional<int> status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{}, std::nullopt, "", ""},
        {{false, true, {}}, std::nullopt, "", ""},
        {{true, false, {}}, 0, std::string("Quorvel ") + build::version + "\n", ""},
        {{true, true, {}}, 0, std::string("Quorvel ") + build::version + "\n", ""},
        // A stray argument is a mistake, also next to an option that would answer.
        {{true, false, {"open", "x"}},
         2,
         "",
         "quorvel: unexpected argument open (see quorvel --help)\n"},
        {{false, true, {"-"}}, 2, "", "quorvel: unexpected argument - (see quorvel --help)\n"},
    };
    for (const Case& c : cases) {
        const CommandLineAnswer answer = answerCommandLine(c.options);
        EXPECT_EQ(answer.exitStatus, c.status);
        EXPECT_EQ(answer.standardOutput, c.out);
        EXPECT_EQ(answer.standardError, c.err);
    }
}

TEST(AutostartEntryTest, ExecNamesTheProgramAsOneArgument) {
    EXPECT_EQ(desktopEntryExecArgument("/usr/bin/quorvel"), "/usr/bin/quorvel");
    EXPECT_EQ(desktopEntryExecArgument("/home/a b/quorvel"), "\"/home/a b/quorvel\"");
    // Quoted, with ", `, $ and \ escaped, then the backslashes doubled for
    // the entry's string syntax; % would be a field code.
    EXPECT_EQ(desktopEntryExecArgument("/x/$HOME\"`\\50%/q"),
              "\"/x/\\\\$HOME\\\\\"\\\\`\\\\\\\\50%%/q\"");
    EXPECT_EQ(desktopEntryExecArgument("/opt/q'uo"), "\"/opt/q'uo\"");

    const std::string text = autostartEntryText("/usr/bin/quorvel");
    EXPECT_THAT(text, ::testing::StartsWith("[Desktop Entry]\nType=Application\n"));
    EXPECT_THAT(text, ::testing::HasSubstr("\nExec=/usr/bin/quorvel --background\n"));
    EXPECT_EQ(autostartEntryPath("/c"), fs::path("/c/autostart/io.quorvel.Desktop.desktop"));
}

class StartAtLoginTest : public AppFixture {
protected:
    fs::path config =
        fs::temp_directory_path() / ("quorvel-autostart-" + std::to_string(::getpid()));
    fs::path entry = config / "autostart" / "io.quorvel.Desktop.desktop";

    void SetUp() override {
        fs::remove_all(config);
        platform.configDirectory = config;
        platform.executable = "/opt/Quorvel Build/quorvel";
        launch();
    }
    void TearDown() override { fs::remove_all(config); }

    static const MenuItem& item(const Menu& menu) {
        for (const MenuItem& candidate : menu.items) {
            if (candidate.actionName == "toggleStartAtLogin") {
                return candidate;
            }
        }
        throw std::logic_error("no 登录时启动 item");
    }
};

TEST_F(StartAtLoginTest, TheItemWritesAndRemovesTheEntryAndShowsWhatIsThere) {
    const MenuItem& status = item(*platform.statusMenu);
    const MenuItem& inMenuBar = item(*platform.mainMenu->items[0].submenu);
    ASSERT_TRUE(status.checked && inMenuBar.checked);
    EXPECT_FALSE(status.checked()); // off by default
    EXPECT_FALSE(fs::exists(config / "autostart"));

    status.action();
    const std::string text = readFile(entry);
    EXPECT_EQ(text, autostartEntryText("/opt/Quorvel Build/quorvel"));
    EXPECT_THAT(text, ::testing::HasSubstr("Exec=\"/opt/Quorvel Build/quorvel\" --background"));
    EXPECT_TRUE(status.checked());
    EXPECT_TRUE(inMenuBar.checked());

    inMenuBar.action();
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(status.checked());

    // The mark is read from the folder, not remembered.
    status.action();
    fs::remove(entry);
    EXPECT_FALSE(inMenuBar.checked());
}

} // namespace
} // namespace quorvel::testing
