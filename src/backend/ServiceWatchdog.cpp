#include "app/AppDelegate.h"
#include "service/LogEvents.h"

#include <algorithm>

namespace quorvel {

namespace {
// How long the running child may leave every request unanswered.
constexpr double silenceBeforeRestartSeconds = 60.0;
// How long it has to end after the termination signal.
constexpr double secondsBeforeKill = 5.0;
} // namespace

// Every request of the API client ends here: with an answer of the child
// started here, or without one (a time-out, a refused connection, or an
// answer of another program on the port). A child that runs but has
// answered nothing for a minute is hung: it is ended, first asked, then
// killed, and its exit starts the next one as any other exit does.
void AppDelegate::noteServiceAnswer(bool answered) {
    const double now = platform.mainQueue().now();
    if (answered) {
        serviceLastAnsweredAt = now;
        return;
    }
    if (useCloudBackend || !serverProcess || serverKillDeadline ||
        platform.application().isTerminating()) {
        return;
    }
    if (now - std::max(serviceLastAnsweredAt, serverStartedAt) < silenceBeforeRestartSeconds) {
        return;
    }
    log(logevent::serviceUnresponsive, "local server not answering for 60 s, ending it");
    serverProcess->terminate();
    serverKillDeadline = platform.mainQueue().postAfter(secondsBeforeKill, [this] {
        log("local server still running, killing it");
        serverProcess->kill();
    });
}

} // namespace quorvel
