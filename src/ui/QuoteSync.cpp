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
        if (!self || !self->windowIsUsable()) {
            return;
        }
        // Another program's answer synchronised nothing.
        const auto status =
            self->comesFromOwnService(result.headers) ? result.status : std::optional<int>();
        if (result.error) {
            self->showTransientAlert("同步行情失败：" + *result.error);
        } else if (status && *status >= 200 && *status < 300) {
            self->reloadWebView();
            self->showTransientAlert("行情已同步。");
        } else {
            self->showTransientAlert("同步行情失败。");
        }
    });
}

} // namespace quorvel
