#include "app/AppDelegate.h"

namespace quorvel {

namespace {

const std::string crashPageText =
    "页面多次意外退出，已停止自动重新加载。请选择“刷新”（Ctrl+R）重试。";

std::string reasonName(WebProcessTermination reason) {
    switch (reason) {
    case WebProcessTermination::Crashed:
        return "crashed";
    case WebProcessTermination::ExceededMemoryLimit:
        return "memory-limit";
    case WebProcessTermination::RequestedByApplication:
        return "requested";
    }
    return "unknown";
}

} // namespace

void AppDelegate::loadPage() {
    showsCrashPage = false;
    loadPageWithToken();
}

// The engine's error page stays while the next try waits; each failure
// waits twice as long as the one before, up to a minute.
void AppDelegate::webViewDidFailNavigation() {
    log("page load failed");
    pageLoadFailed = true;
    pageRetry =
        platform.mainQueue().postAfter(pageRetryDelays.next(), [this] { retryFailedPage(); });
}

// Loads the page again if its last load failed; the retry waiting for its
// time then does nothing.
void AppDelegate::retryFailedPage() {
    if (!pageLoadFailed || showsCrashPage || !pageRequest || !windowIsUsable()) {
        return;
    }
    pageRetry.reset();
    loadPage();
}

void AppDelegate::webViewWebContentProcessDidTerminate(WebProcessTermination reason) {
    log("web process terminated reason=" + reasonName(reason));
    unresponsiveDeadline.reset();
    if (reason == WebProcessTermination::RequestedByApplication && endingUnresponsivePage &&
        windowIsUsable()) {
        showUnresponsivePage();
        return;
    }
    // Ended on purpose: the application reloads it when it wants the page.
    if (reason == WebProcessTermination::RequestedByApplication || !windowIsUsable() ||
        !pageRequest) {
        return;
    }
    if (crashReloads.take(platform.mainQueue().now())) {
        log("web process reload after termination count=" +
            std::to_string(crashReloads.usedReloads()));
        webView->reload();
        return;
    }
    log("web process reloads stopped");
    showsCrashPage = true;
    webView->showMessagePage("Quorvel", crashPageText);
}

void AppDelegate::networkDidChange() {
    retryFailedPage();
}

// Timers stood still during the sleep, and connections may have died
// unnoticed: requests under way are given up and the poll goes out at once.
void AppDelegate::systemDidResume() {
    log("system resumed");
    platform.httpClient().dropConnections();
    if (notificationTimer) {
        startDesktopNotificationPolling();
    }
    retryFailedPage();
}

} // namespace quorvel
