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
        self->requestNotificationPermission([self](bool granted) {
            self->systemNotificationsAllowed = granted;
            self->platform.mainQueue().post([self] { self->startDesktopNotificationPolling(); });
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
    requestNotificationPermission([weak = weak_from_this()](bool granted) {
        if (const auto self = weak.lock()) {
            self->systemNotificationsAllowed = granted;
        }
    });
}

void AppDelegate::requestNotificationPermission(std::function<void(bool)> completion) {
    platform.notificationCenter().requestAuthorization(
        AuthorizationAlert | AuthorizationSound | AuthorizationBadge, std::move(completion));
}

} // namespace quorvel
