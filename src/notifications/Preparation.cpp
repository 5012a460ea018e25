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

void AppDelegate::requestNotificationPermission(std::function<void(bool)> completion) {
    platform.notificationCenter().requestAuthorization(
        AuthorizationAlert | AuthorizationSound | AuthorizationBadge, std::move(completion));
}

} // namespace quorvel
