#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::prepareDesktopNotifications() {
    postAPI("/api/desktop-notifications/initialize", [weak = weak_from_this()](bool) {
        // The outcome of the announcement does not matter: permission and
        // polling follow either way.
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->requestNotificationPermission([weak](AppDelegate& owner, bool) {
            owner.platform.mainQueue().post([weak] {
                if (const auto polling = weak.lock()) {
                    polling->startDesktopNotificationPolling();
                }
            });
        });
    });
}

// Permission refused for want of a server is asked again once one is there;
// alerts until then keep taking the fallback.
void AppDelegate::notificationServerDidAppear() {
    if (systemNotificationsAllowed.load()) {
        return;
    }
    log("notification server appeared");
    requestNotificationPermission(nullptr);
}

void AppDelegate::requestNotificationPermission(std::function<void(AppDelegate&, bool)> then) {
    platform.notificationCenter().requestAuthorization(
        AuthorizationAlert | AuthorizationSound | AuthorizationBadge,
        [weak = weak_from_this(), then = std::move(then)](bool granted) {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            self->systemNotificationsAllowed = granted;
            if (then) {
                then(*self, granted);
            }
        });
}

} // namespace quorvel
