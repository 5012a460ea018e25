#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::syncQuotes() {
    if (!windowIsUsable()) {
        return;
    }
    const auto url = apiURL("/api/quotes/sync");
    if (!url || !serviceMayBeAsked()) {
        showTransientAlert("同步行情失败。");
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = *url;
    request.headers = {{"X-Quorvel-Desktop", "1"}};
    request.cachePolicy = CachePolicy::UseProtocolCachePolicy;
    request.timeoutSeconds = 60.0;
    authorize(request);
    platform.httpClient().send(request, [weak = weak_from_this()](const HttpResult& result) {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        // Another program's answer synchronised nothing.
        const auto status =
            self->comesFromOwnService(result.headers) ? result.status : std::optional<int>();
        self->platform.mainQueue().post([weak, error = result.error, status] {
            const auto owner = weak.lock();
            if (!owner || !owner->windowIsUsable()) {
                return;
            }
            if (error) {
                owner->showTransientAlert("同步行情失败：" + *error);
            } else if (status && *status >= 200 && *status < 300) {
                owner->reloadWebView();
                owner->showTransientAlert("行情已同步。");
            } else {
                owner->showTransientAlert("同步行情失败。");
            }
        });
    });
}

} // namespace quorvel
