#include "BuildConfig.h"
#include "app/AppDelegate.h"
#include "notifications/Uuid.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {
const std::string noticeTitle = build::applicationName;
const std::string outageBody = "暂时无法连接云端提醒服务，恢复之前不会收到新的提醒。";
const std::string signedOutBody = "请先在Quorvel里登录账号，登录之前不会收到新的提醒。";
const std::string recoveredBody = "云端提醒服务已恢复。";
const std::string outageTitle = "Quorvel：暂时无法连接云端提醒服务";
const std::string signedOutTitle = "Quorvel：请先登录账号";
} // namespace

void AppDelegate::notePollOutcome(bool listArrived, std::optional<int> status) {
    if (listArrived) {
        tellAlertFlow(alertHealth.pollSucceeded());
    } else if (status == 401) {
        tellAlertFlow(alertHealth.pollUnauthorized());
    } else {
        tellAlertFlow(alertHealth.pollFailed(platform.mainQueue().now()));
    }
}

void AppDelegate::tellAlertFlow(AlertFlowNotice notice) {
    showAlertState();
    if (notice == AlertFlowNotice::None || platform.application().isTerminating()) {
        return;
    }
    const std::string& body = notice == AlertFlowNotice::Outage      ? outageBody
                              : notice == AlertFlowNotice::SignedOut ? signedOutBody
                                                                     : recoveredBody;
    log(logevent::alertFlowNotice,
        "alert flow notice " + std::string(notice == AlertFlowNotice::Outage      ? "outage"
                                           : notice == AlertFlowNotice::SignedOut ? "signed-out"
                                                                                  : "recovered"));
    deliverDesktopNotification(DesktopNotification{"alert-flow-" + makeUuidString(), noticeTitle,
                                                   body, std::nullopt, std::nullopt},
                               nullptr);
}

// An alert the user has not looked at yet: the window was closed, or in the
// background, when it came.
void AppDelegate::noteAlertDelivered() {
    if (window && window->isActive()) {
        return;
    }
    ++unseenAlerts;
    showAlertState();
}

void AppDelegate::clearUnseenAlerts() {
    if (unseenAlerts == 0) {
        return;
    }
    unseenAlerts = 0;
    showAlertState();
}

// Unseen alerts come first: the attention icon takes the place of the
// item's own icon on the panels, and the title says why.
void AppDelegate::showAlertState() {
    StatusItemState wanted;
    const AlertFlow flow = alertHealth.flow();
    if (flow != AlertFlow::Flowing) {
        wanted.icon = StatusIcon::Paused;
        wanted.title = flow == AlertFlow::Outage ? outageTitle : signedOutTitle;
    }
    if (unseenAlerts > 0) {
        wanted.status = StatusItemStatus::NeedsAttention;
        wanted.title = "Quorvel：" + std::to_string(unseenAlerts) + " 条新提醒";
    }
    if (!statusItem || wanted == shownStatus) {
        return;
    }
    if (wanted.icon != shownStatus.icon) {
        statusItem->setIcon(wanted.icon);
    }
    if (wanted.status != shownStatus.status) {
        statusItem->setStatus(wanted.status);
    }
    if (wanted.title != shownStatus.title) {
        statusItem->setTitle(wanted.title);
    }
    shownStatus = wanted;
}

} // namespace quorvel
