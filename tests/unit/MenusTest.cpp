#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

// One line per item as built: title, key equivalent and command, or "---".
std::vector<std::string> describe(const Menu& menu) {
    std::vector<std::string> lines;
    for (const MenuItem& item : menu.items) {
        if (item.separator) {
            lines.push_back("---");
        } else if (item.submenu) {
            lines.push_back("[" + item.submenu->title + "]");
            for (const std::string& line : describe(*item.submenu)) {
                lines.push_back("  " + line);
            }
        } else {
            lines.push_back((item.checked ? "[check] " : "") + item.title + " (" +
                            item.keyEquivalent + ") " + item.actionName);
        }
    }
    return lines;
}

class MenusTest : public LaunchedAppFixture {};

TEST_F(MenusTest, TheMainMenuHoldsExactlyTheThreeMenus) {
    ASSERT_TRUE(platform.mainMenu);
    EXPECT_THAT(
        describe(*platform.mainMenu),
        ElementsAre("[]", "  关于Quorvel () showAbout",
                    "  [check] 登录时启动 () toggleStartAtLogin", "  ---",
                    "  退出Quorvel (q) terminate", "[文件]", "  打开配置文件 (,) openConfigFile",
                    "  打开数据目录 (d) openDataFolder", "  ---", "  复制服务地址 (l) copyAppURL",
                    "[视图]", "  刷新 (r) reloadWebView", "  同步行情 (s) syncQuotes",
                    "  测试系统提醒 (t) testDesktopNotification",
                    "  立即检查云端提醒 (n) checkDesktopNotificationsNow"));
}

TEST_F(MenusTest, TheStatusItemHasItsMenu) {
    ASSERT_TRUE(platform.statusMenu);
    EXPECT_THAT(describe(*platform.statusMenu),
                ElementsAre("显示Quorvel () showMainWindow", "同步行情 () syncQuotes",
                            "测试系统提醒 () testDesktopNotification",
                            "立即检查云端提醒 () checkDesktopNotificationsNow",
                            "打开配置文件 () openConfigFile",
                            "[check] 登录时启动 () toggleStartAtLogin", "---",
                            "退出 () terminate"));
}

TEST_F(MenusTest, ItemsRunTheCommandsTheyName) {
    const Menu& view = *platform.mainMenu->items[2].submenu;
    view.items[0].action(); // 刷新
    EXPECT_THAT(platform.calls, ElementsAre("webView.reload"));

    platform.calls.clear();
    platform.statusMenu->items[0].action(); // 显示Quorvel
    EXPECT_THAT(platform.calls, ElementsAre("window.makeKeyAndOrderFront", "application.activate"));
    // A left click on the status item does the same.
    platform.calls.clear();
    ASSERT_TRUE(platform.statusItemPrimaryAction);
    platform.statusItemPrimaryAction();
    EXPECT_THAT(platform.calls, ElementsAre("window.makeKeyAndOrderFront", "application.activate"));

    platform.calls.clear();
    platform.mainMenu->items[1].submenu->items[3].action(); // 复制服务地址
    EXPECT_EQ(platform.clipboard, "http://203.0.113.10");

    // Both quit items end the application through the normal shut-down.
    app->applicationDidBecomeActive();
    platform.calls.clear();
    platform.statusMenu->items.back().action();
    EXPECT_THAT(platform.calls, ElementsAre("application.terminate", "timer.invalidate 1"));
}

} // namespace
} // namespace quorvel::testing
