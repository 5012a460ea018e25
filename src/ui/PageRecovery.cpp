#include "app/AppDelegate.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {

// How the page's process ended, as the log names it, and what that means
// for the page: any end the application did not ask for counts as a crash.
struct Termination {
    const char* name;
    PageEvent event;
};

Termination describe(WebProcessTermination reason) {
    switch (reason) {
    case WebProcessTermination::Crashed:
        return {"crashed", PageEvent::ProcessCrashed};
    case WebProcessTermination::ExceededMemoryLimit:
        return {"memory-limit", PageEvent::ProcessCrashed};
    case WebProcessTermination::RequestedByApplication:
        return {"requested", PageEvent::ProcessEnded};
    }
    return {"unknown", PageEvent::ProcessCrashed};
}

} // namespace

void AppDelegate::webViewDidFailNavigation() {
    page.handle(PageEvent::Failed);
}

void AppDelegate::webViewWebContentProcessDidTerminate(WebProcessTermination reason) {
    const Termination termination = describe(reason);
    log(logevent::webProcessTerminated,
        std::string("web process terminated reason=") + termination.name);
    page.handle(termination.event);
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
