#include "app/AppDelegate.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {
constexpr int contentWidth = 1280;
constexpr int contentHeight = 820;
} // namespace

void AppDelegate::createWindow() {
    webView = &platform.createWebView();
    webView->setNavigationDelegate(this);
    webView->setUIDelegate(this);
    window = &platform.createWindow(contentWidth, contentHeight, WindowStyle{});
    window->setDelegate(this);
    window->setTitle("Quorvel");
    window->center();
    window->setContentView(*webView);
    // Started in the background (at login), the window stays closed, as if
    // the user had closed it: alerts, polling and the menus run all the same.
    if (platform.application().startsInBackground()) {
        windowDidClose();
        return;
    }
    window->makeKeyAndOrderFront();
}

bool AppDelegate::windowIsUsable() const {
    return window && webView && !platform.application().isTerminating();
}

void AppDelegate::showMainWindow() {
    if (!windowIsUsable()) {
        return;
    }
    window->makeKeyAndOrderFront();
    platform.application().activate();
    clearUnseenAlerts();
}

// Asked for by the user (or after a sync): the page's process may end a few
// more times before reloads stop again, and a page that gave way to the
// crash page is loaded anew.
void AppDelegate::reloadWebView() {
    if (!windowIsUsable()) {
        return;
    }
    crashReloads.reset();
    if (pageDialogs.isShowing()) {
        // The page's script waits for the dialog and would bring the next
        // one before the reload could start: answer this one and the rest
        // until the page has loaded again.
        log(logevent::scriptDialogsStopped, "script dialogs stopped for a reload");
        pageDialogs.stop();
        platform.alerts().dismissNewest();
    }
    if (showsCrashPage && pageRequest) {
        loadPage();
        return;
    }
    webView->reload();
}

void AppDelegate::webViewDidFinishNavigation() {
    pageLoadFailed = false;
    pageRetryDelays.reset();
    if (didPrepareDesktopNotifications) {
        return;
    }
    didPrepareDesktopNotifications = true;
    prepareDesktopNotifications();
}

} // namespace quorvel
