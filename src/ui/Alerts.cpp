#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::showTransientAlert(const std::string& message) {
    AlertSpec spec;
    spec.messageText = message;
    spec.style = AlertStyle::Informational;
    spec.buttons = {"好"};
    platform.alerts().runModal(spec);
}

void AppDelegate::showFatalAlert(const std::string& message) {
    AlertSpec spec;
    spec.messageText = "Quorvel无法启动";
    spec.informativeText = message;
    spec.style = AlertStyle::Critical;
    platform.alerts().runModal(spec);
    platform.application().terminate();
}

void AppDelegate::showAbout() {
    AlertSpec spec;
    spec.messageText = "Quorvel";
    spec.informativeText = "A 股 / 港股重点标的关注、行情同步和提醒规则管理工具。";
    platform.alerts().runModal(spec);
}

} // namespace quorvel
