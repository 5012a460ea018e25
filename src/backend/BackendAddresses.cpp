#include "app/AppDelegate.h"
#include "backend/UrlReference.h"

namespace quorvel {

std::string AppDelegate::appBaseURL() const {
    return useCloudBackend ? cloudBaseURL : localURL();
}

std::string AppDelegate::localURL() const {
    return "http://127.0.0.1:" + port;
}

std::optional<std::string> AppDelegate::apiURL(const std::string& path) const {
    return resolveUrlReference(appBaseURL(), path);
}

} // namespace quorvel
