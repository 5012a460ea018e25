#include "app/AppDelegate.h"
#include "service/LogEvents.h"

namespace quorvel {

namespace {

constexpr double requestTimeoutSeconds = 60.0;
// An answer that another program on the local service's port gave.
const std::string strangerAnswer = "service answer without the service token";
const std::string notYetAnswered = "the service has not answered yet";
const std::string noURL = "no URL can be formed from the path";

bool isSuccessStatus(int status) {
    return status >= 200 && status < 300;
}

std::string errorText(const HttpResult& result) {
    return result.error.value_or("none");
}

HttpRequest apiRequest(std::string method, std::string url) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.headers = {{"X-Quorvel-Desktop", "1"}, {"X-Quorvel-Device", "desktop"}};
    request.cachePolicy = CachePolicy::UseProtocolCachePolicy;
    request.timeoutSeconds = requestTimeoutSeconds;
    return request;
}

} // namespace

bool AppDelegate::acceptsAnswer(const std::string& request, const HttpResult& result) {
    const bool own = comesFromOwnService(result.headers);
    noteServiceAnswer(result.status && own);
    if (result.status && !own) {
        log(logevent::requestFailed, request + " failed status=" + std::to_string(*result.status) +
                                         " error=" + strangerAnswer);
        return false;
    }
    return true;
}

void AppDelegate::getAPI(
    const std::string& path,
    std::function<void(std::optional<std::string>, std::optional<int>)> completion) {
    const auto url = apiURL(path);
    if (!url || !serviceMayBeAsked()) {
        log(logevent::requestFailed,
            "GET " + path + " failed status=0 error=" + (url ? notYetAnswered : noURL));
        completion(std::nullopt, std::nullopt);
        return;
    }
    HttpRequest request = apiRequest("GET", *url);
    authorize(request);
    platform.httpClient().send(std::move(request), [weak = weak_from_this(), path,
                                                    completion =
                                                        std::move(completion)](HttpResult result) {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        if (!self->acceptsAnswer("GET " + path, result)) {
            completion(std::nullopt, std::nullopt);
            return;
        }
        if (result.status && isSuccessStatus(*result.status)) {
            const std::size_t bytes = result.body ? result.body->size() : 0;
            self->log(logevent::requestDone, "GET " + path +
                                                 " status=" + std::to_string(*result.status) +
                                                 " bytes=" + std::to_string(bytes));
            completion(std::move(result.body), result.status);
            return;
        }
        self->log(logevent::requestFailed,
                  "GET " + path + " failed status=" + std::to_string(result.status.value_or(0)) +
                      " error=" + errorText(result));
        completion(std::nullopt, result.status);
    });
}

void AppDelegate::postAPI(const std::string& path, std::function<void(bool)> completion) {
    const auto url = apiURL(path);
    if (!url || !serviceMayBeAsked()) {
        log(logevent::requestFailed,
            "POST " + path + " failed status=0 error=" + (url ? notYetAnswered : noURL));
        completion(false);
        return;
    }
    HttpRequest request = apiRequest("POST", *url);
    authorize(request);
    platform.httpClient().send(
        std::move(request), [weak = weak_from_this(), path,
                             completion = std::move(completion)](const HttpResult& result) {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            if (!self->acceptsAnswer("POST " + path, result)) {
                completion(false);
                return;
            }
            if (result.status) {
                self->log(logevent::requestDone,
                          "POST " + path + " status=" + std::to_string(*result.status));
                completion(isSuccessStatus(*result.status));
                return;
            }
            self->log(logevent::requestFailed,
                      "POST " + path + " failed status=0 error=" + errorText(result));
            completion(false);
        });
}

} // namespace quorvel
