#include "app/AppDelegate.h"

#include <utility>

namespace quorvel {

AppDelegate::AppDelegate(Platform& platform_, bool useCloudBackend_, std::string cloudBaseURL_,
                         std::string port_)
    : platform(platform_), port(std::move(port_)), useCloudBackend(useCloudBackend_),
      cloudBaseURL(std::move(cloudBaseURL_)) {}

AppDelegate::~AppDelegate() {
    if (notificationTimer) {
        notificationTimer->invalidate();
    }
}

} // namespace quorvel
