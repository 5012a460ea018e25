#include "app/AppDelegate.h"
#include "notifications/TextShortening.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {
constexpr std::size_t titleLimit = 80;
constexpr std::size_t bodyLimit = 320;
} // namespace

void AppDelegate::deliverDesktopNotification(const DesktopNotification& notification,
                                             std::function<void(bool)> completion) {
    if (systemNotificationsAllowed.load()) {
        enqueueLocalNotification(
            notification.id, notification.messageTitle, notification.messageBody,
            [weak = weak_from_this(), notification,
             completion = std::move(completion)](bool success) {
                const auto self = weak.lock();
                if (self) {
                    self->log(logevent::localNotification,
                              "local notification id=" + notification.id +
                                  " success=" + (success ? "true" : "false"));
                }
                const bool delivered = success || !self || self->queueFallback(notification);
                if (completion) {
                    completion(delivered);
                }
            });
        return;
    }
    const bool delivered = queueFallback(notification);
    if (completion) {
        completion(delivered);
    }
}

// No window to bring forward, or the application is quitting: the record is
// not shown, so it is not reported delivered and stays pending at the service.
bool AppDelegate::queueFallback(const DesktopNotification& notification) {
    if (!windowIsUsable()) {
        return false;
    }
    platform.mainQueue().post([weak = weak_from_this(), notification] {
        if (const auto owner = weak.lock()) {
            owner->showFallbackNotification(notification.messageTitle, notification.messageBody);
        }
    });
    return true;
}

void AppDelegate::enqueueLocalNotification(const std::string& id, const std::string& title,
                                           const std::string& body,
                                           std::function<void(bool)> completion) {
    NotificationRequest request;
    request.identifier = id;
    request.title = trimmedNotificationText(title, titleLimit);
    request.body = trimmedNotificationText(body, bodyLimit);
    request.defaultSound = true;
    platform.notificationCenter().add(
        request, [completion = std::move(completion)](const std::optional<std::string>& error) {
            if (completion) {
                completion(!error);
            }
        });
}

// Each dialog runs in a loop of its own, in which the next fallback's block
// may run: it only joins the queue, and once the dialog open now has been
// answered the next one shows all that wait, in the order the alerts came.
void AppDelegate::showFallbackNotification(const std::string& title, const std::string& body) {
    if (!windowIsUsable()) {
        return;
    }
    waitingFallbacks.emplace_back(title, body);
    if (fallbackOpen) {
        return;
    }
    fallbackOpen = true;
    while (!waitingFallbacks.empty() && windowIsUsable()) {
        AlertSpec details;
        if (waitingFallbacks.size() == 1) {
            details.messageText = waitingFallbacks.front().first;
            details.informativeText = waitingFallbacks.front().second;
        } else {
            // All that wait, in one dialog: a burst is answered once.
            details.messageText =
                "Quorvel：" + std::to_string(waitingFallbacks.size()) + " 条新提醒";
            std::string text;
            for (const auto& [waitingTitle, waitingBody] : waitingFallbacks) {
                text += (text.empty() ? "" : "\n\n") + waitingTitle + "\n" + waitingBody;
            }
            details.informativeText = std::move(text);
        }
        waitingFallbacks.clear();
        platform.sound().beep();
        showMainWindow();
        details.style = AlertStyle::Informational;
        details.buttons = {"好"};
        platform.alerts().runModal(details);
    }
    waitingFallbacks.clear();
    fallbackOpen = false;
}

} // namespace quorvel
