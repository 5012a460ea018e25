#include "app/AppDelegate.h"

namespace quorvel {

namespace {
// How long the window stays closed before its page gives its memory back.
constexpr double hiddenSecondsBeforeRest = 600.0;
} // namespace

// The shell spends most of its time with its window closed: the page's
// process then only costs memory. Alerts, polling and the menus do not need
// it.
void AppDelegate::windowDidClose() {
    restDeadline = platform.mainQueue().postAfter(hiddenSecondsBeforeRest, [this] { restPage(); });
}

// Only a page that is there rests: one that failed keeps its retries, the
// crash page stays as it is.
void AppDelegate::restPage() {
    if (!windowIsUsable() || !pageRequest || pageLoadFailed || showsCrashPage || pageResting) {
        return;
    }
    log("web process ended while the window is hidden");
    pageResting = true;
    webView->terminateWebProcess();
}

void AppDelegate::windowDidShow() {
    restDeadline.reset();
    if (!pageResting || !windowIsUsable()) {
        return;
    }
    pageResting = false;
    webView->reload();
}

} // namespace quorvel
