#include "app/AppDelegate.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {

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

void AppDelegate::webViewDidFailNavigation() {
    page.handle(PageEvent::Failed);
}

void AppDelegate::webViewWebContentProcessDidTerminate(WebProcessTermination reason) {
    log(logevent::webProcessTerminated, "web process terminated reason=" + reasonName(reason));
    page.handle(reason == WebProcessTermination::RequestedByApplication
                    ? PageEvent::ProcessEnded
                    : PageEvent::ProcessCrashed);
}

// A failed load is tried again at once.
void AppDelegate::networkDidChange() {
    page.handle(PageEvent::RetryDue);
}

// Timers stood still during the sleep, and connections may have died
// unnoticed: requests under way are given up and the poll goes out at once.
void AppDelegate::systemDidResume() {
    log(logevent::systemResumed, "system resumed");
    platform.httpClient().dropConnections();
    if (notificationTimer) {
        startDesktopNotificationPolling();
    }
    page.handle(PageEvent::RetryDue);
}

} // namespace quorvel
