#include "app/AppDelegate.h"
#include "service/LogEvents.h"
#include "ui/PagePolicy.h"

namespace quorvel {

// The window shows the service's origin and nothing else: the rest goes to
// the desktop's handler when the user asked for it, and nowhere otherwise.
bool AppDelegate::webViewShouldStartNavigation(const NavigationAction& action) {
    const NavigationOutcome outcome =
        decideNavigation(action.url, appBaseURL(), action.userInitiated, action.newWindow);
    if (outcome == NavigationOutcome::LoadInWindow) {
        return true;
    }
    log(logevent::pageNavigation, std::string(action.newWindow ? "new window " : "navigation ") +
                                      std::string(outcomeName(outcome)) + " url=" + action.url +
                                      " user=" + (action.userInitiated ? "true" : "false"));
    if (outcome == NavigationOutcome::OpenInDesktop) {
        platform.workspace().openURL(action.url);
    }
    return false;
}

void AppDelegate::webViewDidCommitNavigation() {
    page.handle(PageEvent::Committed);
}

void AppDelegate::webViewDidRefuseAuthentication(const std::string& url) {
    log("http authentication refused url=" + url);
}

void AppDelegate::webViewWebContentProcessResponsivenessChanged(bool responsive) {
    page.handle(responsive ? PageEvent::AnswersAgain : PageEvent::StoppedAnswering);
}

} // namespace quorvel
