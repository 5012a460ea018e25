#include "app/AppDelegate.h"
#include "service/LogEvents.h"

#include <algorithm>
#include <cctype>

namespace quorvel {

namespace {
const std::string tokenField = "X-Quorvel-Service-Token";
const std::string proofField = "X-Quorvel-Service-Proof";

bool sameFieldName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}
} // namespace

// The bundled service sends back the proof it was started with in every
// answer; another program on its port cannot know it. The proof is not the
// token: a program that got a request of the shell still cannot pass for
// its service.
bool AppDelegate::comesFromOwnService(
    const std::vector<std::pair<std::string, std::string>>& headers) const {
    if (useCloudBackend) {
        return true;
    }
    if (serviceProofValue.empty()) {
        return false;
    }
    return std::any_of(headers.begin(), headers.end(), [this](const auto& field) {
        return sameFieldName(field.first, proofField) && field.second == serviceProofValue;
    });
}

// Every account of the machine reaches the local service; it answers only
// requests that carry the token it was started with.
void AppDelegate::authorize(HttpRequest& request) const {
    if (!useCloudBackend && !serviceTokenValue.empty()) {
        request.headers.emplace_back(tokenField, serviceTokenValue);
    }
}

// The page's own requests carry the token as a cookie, which the shell puts
// into the view's store before each load: the page never sees it.
void AppDelegate::loadPageRequest(const PageRequest& request) {
    if (useCloudBackend || serviceTokenValue.empty()) {
        webView->load(request);
        return;
    }
    loadAwaitingCookie = std::make_shared<const PageRequest>(request);
    webView->setCookie(
        request.url, "quorvel_service_token_" + port, serviceTokenValue,
        [weak = weak_from_this(), awaiting = std::weak_ptr<const PageRequest>(loadAwaitingCookie)] {
            const auto self = weak.lock();
            const auto load = awaiting.lock();
            if (self && load && self->windowIsUsable()) {
                self->loadAwaitingCookie.reset();
                self->webView->load(*load);
            }
        });
}

// The address a browser logs in with: the service trades the token for its
// cookie at the first visit and goes on to the plain address.
std::string AppDelegate::loginURL() const {
    if (useCloudBackend || serviceTokenValue.empty()) {
        return appBaseURL();
    }
    return appBaseURL() + "/?token=" + serviceTokenValue;
}

bool AppDelegate::webViewShouldAcceptResponse(
    const std::vector<std::pair<std::string, std::string>>& headers) {
    if (comesFromOwnService(headers)) {
        return true;
    }
    log(logevent::pageRefused, "page refused: service answer without the service token");
    return false;
}

} // namespace quorvel
