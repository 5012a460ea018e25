#include "app/AppDelegate.h"

namespace quorvel {

namespace {

// A menu action that runs a command of the application object while it exists.
std::function<void()> command(const std::weak_ptr<AppDelegate>& weak,
                              void (AppDelegate::*member)()) {
    return [weak, member] {
        if (const auto self = weak.lock()) {
            (self.get()->*member)();
        }
    };
}

// Checked while the autostart entry is there, as the folder says each time
// the menu opens: the user may have removed the entry meanwhile.
void addStartAtLoginItem(Menu& menu, const std::weak_ptr<AppDelegate>& weak) {
    menu.addCheckItem("登录时启动", "toggleStartAtLogin",
                      command(weak, &AppDelegate::toggleStartAtLogin), [weak] {
                          const auto self = weak.lock();
                          return self && self->startsAtLogin();
                      });
}

} // namespace

void AppDelegate::createMenu() {
    const auto weak = weak_from_this();
    const auto terminate = [&application = platform.application()] { application.terminate(); };

    Menu mainMenu;

    auto applicationMenu = std::make_shared<Menu>();
    applicationMenu->addItem("关于Quorvel", "showAbout", command(weak, &AppDelegate::showAbout));
    addStartAtLoginItem(*applicationMenu, weak);
    applicationMenu->addSeparator();
    applicationMenu->addItem("退出Quorvel", "terminate", terminate, "q");
    mainMenu.addSubmenu(applicationMenu);

    auto fileMenu = std::make_shared<Menu>();
    fileMenu->title = "文件";
    fileMenu->addItem("打开配置文件", "openConfigFile", command(weak, &AppDelegate::openConfigFile),
                      ",");
    fileMenu->addItem("打开数据目录", "openDataFolder", command(weak, &AppDelegate::openDataFolder),
                      "d");
    fileMenu->addSeparator();
    fileMenu->addItem("复制服务地址", "copyAppURL", command(weak, &AppDelegate::copyAppURL), "l");
    mainMenu.addSubmenu(fileMenu);

    auto viewMenu = std::make_shared<Menu>();
    viewMenu->title = "视图";
    viewMenu->addItem("刷新", "reloadWebView", command(weak, &AppDelegate::reloadWebView), "r");
    viewMenu->addItem("同步行情", "syncQuotes", command(weak, &AppDelegate::syncQuotes), "s");
    viewMenu->addItem("测试系统提醒", "testDesktopNotification",
                      command(weak, &AppDelegate::testDesktopNotification), "t");
    viewMenu->addItem("立即检查云端提醒", "checkDesktopNotificationsNow",
                      command(weak, &AppDelegate::checkDesktopNotificationsNow), "n");
    mainMenu.addSubmenu(viewMenu);

    platform.menuBar().setMainMenu(mainMenu);
}

void AppDelegate::createStatusItem() {
    const auto weak = weak_from_this();
    statusItem = platform.menuBar().createSquareStatusItem();
    Menu menu;
    menu.addItem("显示Quorvel", "showMainWindow", command(weak, &AppDelegate::showMainWindow));
    menu.addItem("同步行情", "syncQuotes", command(weak, &AppDelegate::syncQuotes));
    menu.addItem("测试系统提醒", "testDesktopNotification",
                 command(weak, &AppDelegate::testDesktopNotification));
    menu.addItem("立即检查云端提醒", "checkDesktopNotificationsNow",
                 command(weak, &AppDelegate::checkDesktopNotificationsNow));
    menu.addItem("打开配置文件", "openConfigFile", command(weak, &AppDelegate::openConfigFile));
    addStartAtLoginItem(menu, weak);
    menu.addSeparator();
    menu.addItem("退出", "terminate",
                 [&application = platform.application()] { application.terminate(); });
    statusItem->setMenu(menu);
    // A left click on the item shows the window, as its first entry does.
    statusItem->setPrimaryAction(command(weak, &AppDelegate::showMainWindow));
}

} // namespace quorvel
