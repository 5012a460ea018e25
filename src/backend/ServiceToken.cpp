#include "app/AppDelegate.h"

#include <algorithm>
#include <cctype>

namespace quorvel {

namespace {
const std::string tokenField = "X-Quorvel-Service-Token";

bool sameFieldName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}
} // namespace

// The bundled service sends back the token it was started with in every
// answer; another program on its port cannot know it.
bool AppDelegate::comesFromOwnService(
    const std::vector<std::pair<std::string, std::string>>& headers) const {
    if (useCloudBackend) {
        return true;
    }
    if (serviceTokenValue.empty()) {
        return false;
    }
    return std::any_of(headers.begin(), headers.end(), [this](const auto& field) {
        return sameFieldName(field.first, tokenField) && field.second == serviceTokenValue;
    });
}

bool AppDelegate::webViewShouldAcceptResponse(
    const std::vector<std::pair<std::string, std::string>>& headers) {
    if (comesFromOwnService(headers)) {
        return true;
    }
    log("page refused: service answer without the service token");
    return false;
}

} // namespace quorvel
