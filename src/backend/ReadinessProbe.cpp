#include "app/AppDelegate.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {
constexpr int lastAttempt = 30;
constexpr double retryDelaySeconds = 0.25;
constexpr double requestTimeoutSeconds = 60.0;
} // namespace

void AppDelegate::loadAppWhenReady(int attempt) {
    const std::string baseURL = appBaseURL();
    if (useCloudBackend) {
        page.start(
            PageRequest{baseURL, CachePolicy::ReloadIgnoringLocalCacheData, requestTimeoutSeconds});
        return;
    }

    HttpRequest probe;
    probe.url = baseURL;
    probe.cachePolicy = CachePolicy::ReloadIgnoringLocalCacheData;
    probe.timeoutSeconds = requestTimeoutSeconds;
    platform.httpClient().send(
        probe, [weak = weak_from_this(), baseURL, attempt](const HttpResult& result) {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            // Another program took the port after it was found free: the
            // service started here cannot listen there and moves to another
            // one, which the next probe asks. Nothing that program sends is
            // used.
            const bool stranger = result.status && !self->comesFromOwnService(result.headers);
            if (stranger) {
                self->log(logevent::servicePortTaken, "local server port taken by another program");
            }
            if (!stranger && result.status == 200) {
                self->ownServiceAnswered = true;
                self->prepareDesktopNotifications();
                self->page.start(PageRequest{baseURL, CachePolicy::UseProtocolCachePolicy,
                                             requestTimeoutSeconds});
            } else if (attempt >= lastAttempt) {
                self->showFatalAlert(stranger ? "端口 " + self->port +
                                                    " 已被其他程序占用，无法启动本地服务。"
                                              : "本地服务启动超时。");
            } else {
                self->probeRetry = self->platform.mainQueue().postAfter(
                    retryDelaySeconds,
                    [owner = self.get(), attempt] { owner->loadAppWhenReady(attempt + 1); });
            }
        });
}

} // namespace quorvel
