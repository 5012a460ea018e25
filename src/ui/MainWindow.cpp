#include "BuildConfig.h"
#include "app/AppDelegate.h"

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
    window->setTitle(build::applicationName);
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

// Asked for by the user (or after a sync).
void AppDelegate::reloadWebView() {
    page.handle(PageEvent::UserReload);
}

// Alerts, polling and the menus do not need the page: with the window closed
// long enough, its process gives its memory back.
void AppDelegate::windowDidClose() {
    page.handle(PageEvent::WindowClosed);
}

void AppDelegate::windowDidShow() {
    page.handle(PageEvent::WindowShown);
}

void AppDelegate::webViewDidFinishNavigation() {
    page.handle(PageEvent::Finished);
    if (didPrepareDesktopNotifications) {
        return;
    }
    didPrepareDesktopNotifications = true;
    prepareDesktopNotifications();
}

} // namespace quorvel
