#include "app/AppDelegate.h"
#include "service/LogEvents.h"
#include "service/PathSegment.h"

#include <set>

namespace quorvel {

namespace {
constexpr double pollIntervalSeconds = 8.0;
const std::string pendingPath = "/api/desktop-notifications/pending";

std::string acknowledgementPath(const std::string& id) {
    // The id becomes exactly one path segment, whatever characters it holds.
    return "/api/desktop-notifications/" + encodePathSegment(id) + "/mark-notified";
}
} // namespace

void AppDelegate::startDesktopNotificationPolling() {
    if (notificationTimer) {
        notificationTimer->invalidate();
    }
    notificationTimer =
        platform.mainQueue().scheduleRepeatingTimer(pollIntervalSeconds, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->pollDesktopNotifications(false);
            }
        });
    pollDesktopNotifications(false);
}

void AppDelegate::pollDesktopNotifications(bool showEmptyResult) {
    if (isPollingNotifications.exchange(true)) {
        if (showEmptyResult) {
            answerFromPollInFlight();
        }
        return;
    }
    // Records being shown or acknowledged when the list is asked for may
    // still be on it although their acknowledgement finishes before the
    // list arrives: those are left alone as well.
    getAPI(pendingPath, [weak = weak_from_this(), showEmptyResult,
                         busyWhenAsked = deliveries.ids()](std::optional<std::string> body,
                                                           std::optional<int> status) {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        // What the check command is told when nothing is shown.
        std::optional<std::string> answer;
        bool listArrived = false;
        if (!body) {
            answer = status == 401 ? "请先在Quorvel里登录账号。" : "暂时无法连接云端提醒服务。";
        } else if (const auto response = decodeDesktopNotificationsResponse(*body); !response) {
            self->log(logevent::pendingDecodeFailed, "pending decode failed");
            answer = "云端提醒数据解析失败。";
        } else {
            listArrived = true;
            self->log(logevent::pendingLoaded,
                      "pending loaded count=" + std::to_string(response->notifications.size()));
            if (response->notifications.empty()) {
                answer = "当前没有待弹出的云端提醒。";
            }
            // Records still being shown or acknowledged since an earlier poll
            // are skipped; within one list every record is delivered.
            std::set<std::string> busy = self->deliveries.ids();
            busy.insert(busyWhenAsked.begin(), busyWhenAsked.end());
            for (const DesktopNotification& notification : response->notifications) {
                if (busy.contains(notification.id)) {
                    continue;
                }
                self->deliveries.begin(notification.id);
                self->deliverDesktopNotification(
                    notification,
                    [weak = std::weak_ptr(self), id = notification.id](bool delivered) {
                        const auto owner = weak.lock();
                        if (!owner) {
                            return;
                        }
                        if (!delivered) {
                            owner->deliveries.end(id);
                            return;
                        }
                        owner->noteAlertDelivered();
                        owner->postAPI(acknowledgementPath(id), [weak, id](bool) {
                            if (const auto acknowledged = weak.lock()) {
                                acknowledged->deliveries.end(id);
                            }
                        });
                    });
            }
        }
        self->isPollingNotifications = false;
        self->notePollOutcome(listArrived, status);
        // The guard is down before a waiting check is taken, so a check is
        // either taken here or polls by itself.
        const bool answerWanted = self->checkWaitsOnPoll.exchange(false) || showEmptyResult;
        if (answer && answerWanted) {
            self->platform.mainQueue().post([weak, message = *answer] {
                const auto owner = weak.lock();
                if (owner && owner->windowIsUsable()) {
                    owner->showTransientAlert(message);
                }
            });
        }
    });
}

// A check asked while a poll is on its way is answered by that poll: the
// status menu's closing gives the window back its focus, and the poll that
// starts then must not swallow the command chosen from the menu.
void AppDelegate::answerFromPollInFlight() {
    checkWaitsOnPoll = true;
    // Once the poll has lowered its guard it may have gone without taking
    // the check; then the check takes itself back and polls.
    if (!isPollingNotifications.load() && checkWaitsOnPoll.exchange(false)) {
        pollDesktopNotifications(true);
    }
}

void AppDelegate::checkDesktopNotificationsNow() {
    // Its answers and the alerts it finds are shown over the window.
    if (!windowIsUsable()) {
        return;
    }
    requestNotificationPermission(
        [](AppDelegate& self, bool) { self.pollDesktopNotifications(true); });
}

} // namespace quorvel
