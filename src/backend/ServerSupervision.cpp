#include "BuildConfig.h"
#include "app/AppDelegate.h"
#include "notifications/Uuid.h"
#include "service/LogEvents.h"

#include <cmath>

namespace quorvel {

namespace {
// A child that ran this long was healthy: the next restart comes quickly.
constexpr double healthyRunSeconds = 60.0;
// How long the service may be silent before the user is told.
constexpr double silenceBeforeNoticeSeconds = 60.0;
// How often a restarted child is asked whether it answers.
constexpr double restartProbeSeconds = 0.5;
// The service's status when its port is taken.
constexpr int portTakenStatus = 3;
const std::string serviceDownTitle = build::applicationName;
const std::string serviceDownBody = "本地服务已停止运行，正在自动重启；恢复之前不会收到新的提醒。";

std::string describe(const ProcessExit& how) {
    if (how.signal) {
        return "signal=" + std::to_string(*how.signal);
    }
    return "status=" + std::to_string(how.exitStatus.value_or(-1));
}
} // namespace

// The child is started again after a delay that doubles with each exit in a
// row, unless it had run long enough to count as healthy. Nothing restarts
// once the application is quitting.
void AppDelegate::serverProcessDidExit(const ProcessExit& how) {
    serverProcess.reset();
    serverKillDeadline.reset();
    restartProbe.reset();
    if (platform.application().isTerminating() || startUpFailed) {
        return;
    }
    log(logevent::serviceExit, "local server exited " + describe(how));
    if (!how.signal && how.exitStatus == portTakenStatus && !moveServiceToFreePort() &&
        !ownServiceAnswered) {
        log(logevent::servicePortTaken, "local server port taken by another program");
        startUpFailed = true;
        platform.mainQueue().post([weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->showFatalAlert("端口 " + self->firstPort +
                                     " 已被其他程序占用，无法启动本地服务。");
            }
        });
        return;
    }
    const double now = platform.mainQueue().now();
    if (now - serverStartedAt >= healthyRunSeconds) {
        serverRestartDelays.reset();
    }
    if (!serviceDownSince) {
        serviceDownSince = now;
        serviceDownNotice = platform.mainQueue().postAfter(silenceBeforeNoticeSeconds,
                                                           [this] { reportServiceDown(); });
    }
    scheduleServerRestart();
}

void AppDelegate::scheduleServerRestart() {
    const double delay = serverRestartDelays.next();
    log(logevent::serviceRestart,
        "local server restart in " + std::to_string(std::lround(delay)) + "s");
    serverRestart = platform.mainQueue().postAfter(delay, [this] { restartServer(); });
}

void AppDelegate::restartServer() {
    if (platform.application().isTerminating()) {
        return;
    }
    if (const auto failure = launchServer()) {
        log("local server restart failed error=" + *failure);
        scheduleServerRestart();
        return;
    }
    watchRestartedServer();
}

// Asks the restarted child until it answers, or until it has ended too. An
// answer to the probe of a child that ended since only asks again, in the
// place of the next probe: one probe waits at a time.
void AppDelegate::watchRestartedServer() {
    HttpRequest probe;
    probe.url = appBaseURL();
    probe.cachePolicy = CachePolicy::ReloadIgnoringLocalCacheData;
    platform.httpClient().send(probe, [weak = weak_from_this()](const HttpResult& result) {
        const auto self = weak.lock();
        if (!self || !self->serverProcess || !self->serviceDownSince) {
            return;
        }
        if (result.status == 200 && self->comesFromOwnService(result.headers)) {
            self->serviceDidAnswerAgain();
            return;
        }
        self->restartProbe = self->platform.mainQueue().postAfter(
            restartProbeSeconds, [owner = self.get()] { owner->watchRestartedServer(); });
    });
}

void AppDelegate::serviceDidAnswerAgain() {
    log(logevent::serviceAnsweredAgain, "local server answered again");
    serviceDownSince.reset();
    serviceDownNotice.reset();
    // It may have moved to another port: the page follows it.
    page.followService(appBaseURL());
}

// Once per outage, while the service is still silent: the alerts the user
// relies on do not arrive until it is back.
void AppDelegate::reportServiceDown() {
    if (!serviceDownSince || platform.application().isTerminating()) {
        return;
    }
    log("local server silent for 60 s");
    // The alerts' own outage notice may have told it already.
    const bool toTell = alertHealth.claimOutageNotice();
    showAlertState();
    if (!toTell) {
        return;
    }
    deliverDesktopNotification(DesktopNotification{"local-service-stopped-" + makeUuidString(),
                                                   serviceDownTitle, serviceDownBody, std::nullopt,
                                                   std::nullopt},
                               nullptr);
}

} // namespace quorvel
