#include "app/AppDelegate.h"
#include "notifications/Uuid.h"

namespace quorvel {

namespace {
const std::string testTitle = "Quorvel测试提醒";
const std::string testBody = "如果你看到这个弹窗并听到声音，说明桌面提醒已经可用。";
const std::string testFallbackBody =
    "系统通知权限未开启，所以先用 App 弹窗兜底。请到系统设置里允许Quorvel发送通知。";
} // namespace

void AppDelegate::testDesktopNotification() {
    if (!windowIsUsable()) {
        return;
    }
    requestNotificationPermission([](AppDelegate& self, bool granted) {
        self.platform.mainQueue().post([weak = self.weak_from_this(), granted] {
            const auto owner = weak.lock();
            if (!owner || !owner->windowIsUsable()) {
                return;
            }
            if (!granted) {
                owner->showFallbackNotification(testTitle, testFallbackBody);
                return;
            }
            owner->enqueueLocalNotification("desktop-test-" + makeUuidString(), testTitle, testBody,
                                            nullptr);
        });
    });
}

// A finished download's notification opens its folder; the others bring the
// window.
void AppDelegate::didReceiveNotificationResponse(const std::string& identifier,
                                                 const std::function<void()>& completion) {
    platform.mainQueue().post(
        [weak = weak_from_this(), download = isDownloadNotification(identifier)] {
            const auto self = weak.lock();
            if (self && download) {
                self->openDownloadFolder();
            } else if (self) {
                self->showMainWindow();
            }
        });
    completion();
}

} // namespace quorvel
