#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// One pending alert as the service lists it.
struct DesktopNotification {
    std::string id;
    std::string messageTitle;
    std::string messageBody;
    std::optional<std::string> sourceType;
    std::optional<std::string> sourceId;

    bool operator==(const DesktopNotification&) const = default;
};

// The body of GET /api/desktop-notifications/pending.
struct DesktopNotificationsResponse {
    std::vector<DesktopNotification> notifications;

    bool operator==(const DesktopNotificationsResponse&) const = default;
};

// Nesting deeper than this (objects and arrays counted together) is refused.
inline constexpr std::size_t maxNotificationsJsonDepth = 64;

// Decodes the pending-notifications body: a JSON object with the key "notifications" holding an
// array of objects, each with string values for "id", "messageTitle" and "messageBody" and, when
// present and not null, string values for "sourceType" and "sourceId". Other keys are ignored at
// every level. Any fault fails the whole body (no partial list): wrong or null types where a
// string or array is required, a body that is not one JSON text, invalid UTF-8, a key repeated
// within one object (at any level), nesting deeper than maxNotificationsJsonDepth, and numbers
// beyond the range of a double. Never throws.
std::optional<DesktopNotificationsResponse>
decodeDesktopNotificationsResponse(std::string_view body);

} // namespace quorvel
