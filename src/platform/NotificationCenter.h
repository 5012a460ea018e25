#pragma once

#include "platform/Interface.h"

#include <functional>
#include <optional>
#include <string>

namespace quorvel {

enum AuthorizationOption : unsigned {
    AuthorizationBadge = 1,
    AuthorizationSound = 2,
    AuthorizationAlert = 4,
};

struct NotificationRequest {
    std::string identifier;
    std::string title;
    std::string body;
    bool defaultSound = true;
};

struct NotificationCenterDelegate : Interface {
    // The user opened one of this application's notifications.
    virtual void didReceiveNotificationResponse(const std::string& identifier,
                                                const std::function<void()>& completion) = 0;
    // A notification server has taken over the desktop's notification
    // service (it started, or replaced the one before).
    virtual void notificationServerDidAppear() = 0;
};

// The desktop's notification service.
struct NotificationCenter : Interface {
    virtual void setDelegate(NotificationCenterDelegate* delegate) = 0;
    // The completion runs exactly once, later, with the answer (unless the
    // centre is destroyed first).
    virtual void requestAuthorization(unsigned options,
                                      std::function<void(bool granted)> completion) = 0;
    // The completion runs exactly once, later: no error when the request was
    // accepted.
    virtual void add(const NotificationRequest& request,
                     std::function<void(std::optional<std::string> error)> completion) = 0;
};

} // namespace quorvel
