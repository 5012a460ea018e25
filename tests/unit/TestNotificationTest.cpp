#include "unit/AppFixture.h"

#include <regex>

namespace quorvel::testing {
namespace {

class TestNotificationTest : public LaunchedAppFixture {};

TEST_F(TestNotificationTest, GrantedPermissionShowsASystemNotificationWithANewIdentifier) {
    app->testDesktopNotification();
    app->testDesktopNotification();
    platform.answerAuthorization(true);
    platform.answerAuthorization(true);
    EXPECT_TRUE(platform.addedNotifications.empty()); // scheduled from the main queue
    platform.runMainQueue();
    ASSERT_EQ(platform.addedNotifications.size(), 2u);
    const std::regex identifier(
        "desktop-test-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    for (const auto& request : platform.addedNotifications) {
        EXPECT_TRUE(std::regex_match(request.identifier, identifier)) << request.identifier;
        EXPECT_EQ(request.identifier.size(), 49u);
        EXPECT_EQ(request.title, "Quorvel测试提醒");
        EXPECT_EQ(request.body, "如果你看到这个弹窗并听到声音，说明桌面提醒已经可用。");
        EXPECT_TRUE(request.defaultSound);
    }
    EXPECT_NE(platform.addedNotifications[0].identifier, platform.addedNotifications[1].identifier);
    // A refusal of the test notification shows and logs nothing.
    platform.answerNotification("refused");
    platform.runMainQueue();
    EXPECT_TRUE(platform.shownAlerts.empty());
    EXPECT_FALSE(std::filesystem::exists(*app->logFilePath()));
}

TEST_F(TestNotificationTest, RefusedPermissionExplainsInTheFallbackDialog) {
    app->testDesktopNotification();
    platform.answerAuthorization(false);
    platform.calls.clear();
    platform.runMainQueue();
    EXPECT_THAT(platform.calls, ElementsAre("sound.beep", "window.makeKeyAndOrderFront",
                                            "application.activate", "alert Quorvel测试提醒"));
    const AlertSpec& dialog = platform.shownAlerts.at(0);
    EXPECT_EQ(dialog.informativeText,
              "系统通知权限未开启，所以先用 App 弹窗兜底。请到系统设置里允许Quorvel发送通知。");
    EXPECT_EQ(dialog.buttons, std::vector<std::string>{"好"});
    EXPECT_EQ(dialog.style, AlertStyle::Informational);
    EXPECT_FALSE(app->notificationsAllowed());
}

TEST_F(TestNotificationTest, AClickOnANotificationShowsTheWindow) {
    bool completed = false;
    app->didReceiveNotificationResponse("n-1", [&completed] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_EQ(platform.count("window.makeKeyAndOrderFront"), 0); // completed before the block ran
    platform.runMainQueue();
    EXPECT_THAT(platform.calls, ElementsAre("mainQueue.post", "window.makeKeyAndOrderFront",
                                            "application.activate"));
}

TEST_F(TestNotificationTest, LongTextsAreShortenedOnlyInSystemNotifications) {
    std::string title;
    for (int i = 0; i < 100; ++i) {
        title += "👨‍👩‍👧"; // one character of several code points
    }
    const std::string body(321, 'b');
    DesktopNotification record{"n-9", title, body, std::nullopt, std::nullopt};

    app->checkDesktopNotificationsNow();
    platform.answerAuthorization(true);
    platform.completeRequestWithStatus(200, R"({"notifications":[]})");
    platform.runMainQueue();
    platform.shownAlerts.clear();
    app->deliverDesktopNotification(record, nullptr);
    ASSERT_EQ(platform.addedNotifications.size(), 1u);
    std::string expectedTitle;
    for (int i = 0; i < 79; ++i) {
        expectedTitle += "👨‍👩‍👧";
    }
    EXPECT_EQ(platform.addedNotifications[0].title, expectedTitle + "…");
    EXPECT_EQ(platform.addedNotifications[0].body, std::string(319, 'b') + "…");

    // The fallback dialog shows the whole texts.
    platform.answerNotification("refused");
    platform.runMainQueue();
    ASSERT_EQ(platform.shownAlerts.size(), 1u);
    EXPECT_EQ(platform.shownAlerts[0].messageText, title);
    EXPECT_EQ(platform.shownAlerts[0].informativeText, body);
}

} // namespace
} // namespace quorvel::testing
