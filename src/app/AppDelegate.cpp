#include "app/AppDelegate.h"

#include <utility>

namespace quorvel {

AppDelegate::AppDelegate(Platform& platform_, bool useCloudBackend_, std::string cloudBaseURL_,
                         std::string port_)
    : platform(platform_), firstPort(port_), port(std::move(port_)),
      useCloudBackend(useCloudBackend_), cloudBaseURL(std::move(cloudBaseURL_)) {}

// The platform outlives this object: nothing of it may call back once it is
// gone.
AppDelegate::~AppDelegate() {
    if (notificationTimer) {
        notificationTimer->invalidate();
    }
    // The window and its page are made, and the delegates set, at launch.
    if (window) {
        window->setDelegate(nullptr);
        webView->setNavigationDelegate(nullptr);
        webView->setUIDelegate(nullptr);
        platform.notificationCenter().setDelegate(nullptr);
        platform.systemEvents().setDelegate(nullptr);
    }
}

} // namespace quorvel
