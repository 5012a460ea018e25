#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

class CommandsTest : public AppFixture {};

TEST_F(CommandsTest, FileCommandsOpenTheConfigurationAndTheDataFolder) {
    launch();
    app->openConfigFile();
    app->openDataFolder();
    const std::string folder = (platform.dataDirectory / "Quorvel").string();
    EXPECT_THAT(platform.calls, ElementsAre("workspace.openFile " + folder + "/.env",
                                            "workspace.openFile " + folder));
    EXPECT_TRUE(platform.shownAlerts.empty());
}

TEST_F(CommandsTest, CopyingTheAddressReplacesTheClipboardAndConfirms) {
    launch(true);
    app->copyAppURL();
    EXPECT_EQ(platform.clipboard, "http://203.0.113.10");
    EXPECT_THAT(platform.calls,
                ElementsAre("pasteboard.clearContents", "pasteboard.setString http://203.0.113.10",
                            "alert 已复制服务地址。"));
    EXPECT_EQ(platform.shownAlerts.at(0).buttons, std::vector<std::string>{"好"});
    EXPECT_EQ(platform.shownAlerts.at(0).style, AlertStyle::Informational);

    FakePlatform localPlatform;
    auto local = std::make_shared<AppDelegate>(localPlatform, false, cloudURL);
    local->copyAppURL();
    EXPECT_EQ(localPlatform.clipboard, "http://127.0.0.1:45721");
    // Once started, the address logs the user's browser in.
    local->applicationDidFinishLaunching();
    local->copyAppURL();
    EXPECT_EQ(localPlatform.clipboard, "http://127.0.0.1:45721/?token=" + local->serviceToken());
}

TEST_F(CommandsTest, AlertsHaveTheirTextsStylesAndButtons) {
    makeApp();
    app->showAbout();
    app->showTransientAlert("行情已同步。");
    app->showFatalAlert("本地服务启动超时。");
    ASSERT_EQ(platform.shownAlerts.size(), 3u);
    const AlertSpec& about = platform.shownAlerts[0];
    EXPECT_EQ(about.messageText, "Quorvel");
    EXPECT_EQ(about.informativeText, "A 股 / 港股重点标的关注、行情同步和提醒规则管理工具。");
    EXPECT_EQ(about.style, AlertStyle::Default);
    EXPECT_TRUE(about.buttons.empty());
    const AlertSpec& transient = platform.shownAlerts[1];
    EXPECT_EQ(transient.messageText, "行情已同步。");
    EXPECT_FALSE(transient.informativeText);
    const AlertSpec& fatal = platform.shownAlerts[2];
    EXPECT_EQ(fatal.messageText, "Quorvel无法启动");
    EXPECT_EQ(fatal.informativeText, "本地服务启动超时。");
    // The application ends only once the fatal alert has been closed.
    EXPECT_EQ(platform.calls.back(), "application.terminate");
    EXPECT_EQ(platform.indexOf("alert Quorvel无法启动") + 1,
              platform.indexOf("application.terminate"));
}

} // namespace
} // namespace quorvel::testing
