#include "app/AppDelegate.h"

namespace quorvel {

namespace {
constexpr int lastAttempt = 30;
constexpr double retryDelaySeconds = 0.25;
constexpr double requestTimeoutSeconds = 60.0;
} // namespace

void AppDelegate::loadAppWhenReady(int attempt) {
    const std::string baseURL = appBaseURL();
    if (useCloudBackend) {
        webView->load(
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
            MainQueue& mainQueue = self->platform.mainQueue();
            if (result.status == 200) {
                mainQueue.post([self, baseURL] {
                    self->prepareDesktopNotifications();
                    self->webView->load(PageRequest{baseURL, CachePolicy::UseProtocolCachePolicy,
                                                    requestTimeoutSeconds});
                });
            } else if (attempt >= lastAttempt) {
                mainQueue.post([self] { self->showFatalAlert("本地服务启动超时。"); });
            } else {
                mainQueue.postAfter(retryDelaySeconds,
                                    [self, attempt] { self->loadAppWhenReady(attempt + 1); });
            }
        });
}

} // namespace quorvel
