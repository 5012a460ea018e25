#include "app/AppDelegate.h"
#include "ui/PagePolicy.h"

namespace quorvel {

namespace {
// How long the page's process may stop answering before it is ended.
constexpr double unresponsiveSeconds = 10.0;

const std::string unresponsivePageText =
    "页面长时间无响应，已停止。请选择“刷新”（Ctrl+R）重新加载。";
} // namespace

// The window shows the service's origin and nothing else: the rest goes to
// the desktop's handler when the user asked for it, and nowhere otherwise.
bool AppDelegate::webViewShouldStartNavigation(const NavigationAction& action) {
    const NavigationOutcome outcome =
        decideNavigation(action.url, appBaseURL(), action.userInitiated, action.newWindow);
    if (outcome == NavigationOutcome::LoadInWindow) {
        return true;
    }
    log(std::string(action.newWindow ? "new window " : "navigation ") +
        std::string(outcomeName(outcome)) + " url=" + action.url +
        " user=" + (action.userInitiated ? "true" : "false"));
    if (outcome == NavigationOutcome::OpenInDesktop) {
        platform.workspace().openURL(action.url);
    }
    return false;
}

// A new page: its dialogs start over.
void AppDelegate::webViewDidCommitNavigation() {
    pageDialogs.reset();
}

void AppDelegate::webViewDidRefuseAuthentication(const std::string& url) {
    log("http authentication refused url=" + url);
}

// A page that stops answering (a script that never returns) holds the
// window; after a while it is ended, and the view says why.
void AppDelegate::webViewWebContentProcessResponsivenessChanged(bool responsive) {
    if (responsive) {
        unresponsiveDeadline.reset();
        return;
    }
    if (unresponsiveDeadline || !windowIsUsable()) {
        return;
    }
    unresponsiveDeadline =
        platform.mainQueue().postAfter(unresponsiveSeconds, [this] { endUnresponsivePage(); });
}

void AppDelegate::endUnresponsivePage() {
    unresponsiveDeadline.reset();
    if (!windowIsUsable()) {
        return;
    }
    log("web process not responding, ended");
    endingUnresponsivePage = true;
    webView->terminateWebProcess();
}

// Reported as asked for: no crash, and the crash budget stays.
void AppDelegate::showUnresponsivePage() {
    endingUnresponsivePage = false;
    showsCrashPage = true;
    webView->showMessagePage("Quorvel", unresponsivePageText);
}

} // namespace quorvel
