#include "app/AppDelegate.h"
#include "service/LogEvents.h"
#include "ui/PageRestDelay.h"

namespace quorvel {

// The shell spends most of its time with its window closed: the page's
// process then only costs memory. Alerts, polling and the menus do not need
// it.
void AppDelegate::windowDidClose() {
    const unsigned close = ++windowCloses;
    platform.mainQueue().postAfter(hiddenSecondsBeforeRest, [weak = weak_from_this(), close] {
        const auto self = weak.lock();
        if (self && close == self->windowCloses) {
            self->restPage();
        }
    });
}

// Only a page that is there rests: one that failed keeps its retries, the
// crash page stays as it is.
void AppDelegate::restPage() {
    if (!windowIsUsable() || !pageRequest || pageLoadFailed || showsCrashPage || pageResting) {
        return;
    }
    log(logevent::webProcessEnded, "web process ended while the window is hidden");
    pageResting = true;
    webView->terminateWebProcess();
}

void AppDelegate::windowDidShow() {
    ++windowCloses;
    if (!pageResting || !windowIsUsable()) {
        return;
    }
    pageResting = false;
    webView->reload();
}

} // namespace quorvel
