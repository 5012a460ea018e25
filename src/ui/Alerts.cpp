#include "BuildConfig.h"
#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::showTransientAlert(const std::string& message) {
    AlertSpec details;
    details.messageText = message;
    details.style = AlertStyle::Informational;
    details.buttons = {"好"};
    platform.alerts().runModal(details);
}

void AppDelegate::showFatalAlert(const std::string& message) {
    // Nothing is started again behind the alert: the application ends.
    startUpFailed = true;
    AlertSpec details;
    details.messageText = "Quorvel无法启动";
    details.informativeText = message;
    details.style = AlertStyle::Critical;
    platform.alerts().runModal(details);
    platform.application().terminate();
}

void AppDelegate::showAbout() {
    AlertSpec details;
    details.messageText = build::applicationName;
    details.informativeText = "A 股 / 港股重点标的关注、行情同步和提醒规则管理工具。";
    platform.alerts().runModal(details);
}

} // namespace quorvel
