#pragma once

#include "platform/NotificationCenter.h"

#include <chrono>
#include <functional>
#include <memory>
#include <sigc++/functors/slot.h>
#include <string>

namespace quorvel::gtk {

// How long the notification server may take to answer before the centre
// stops waiting. Both are the D-Bus default that the desktop's own
// notification clients use: a server that misses it is hung by any client's
// measure, while a busy one (a slow shell, a burst being drawn) answers well
// within it.
struct NotificationServerBounds {
    // GetCapabilities: the server's answer is the permission; without one
    // within this time permission is refused.
    std::chrono::milliseconds capabilities{25000};
    // Notify: an unanswered request fails after this time, so the caller can
    // show the alert another way; a notification the server shows later
    // after all is closed again at once.
    std::chrono::milliseconds notify{25000};
};

// The desktop's notification service, org.freedesktop.Notifications on the
// session bus. Create and use it on the main thread; every completion and
// delegate call runs on the GLib main loop (default context), never inside
// the call that caused it.
//
// - requestAuthorization: the desktop has no per-application permission, so
//   the answer is whether a notification server answers on the session bus
//   (GetCapabilities; a server that D-Bus can start on demand is started).
//   The options do not change the answer.
// - add: one Notify call as application "Quorvel" with a "default" action.
//   The body is escaped unless the server said it takes no markup in bodies;
//   a request without the default sound asks for silence.
// - An ActionInvoked "default" for a notification sent here is reported to
//   the delegate as the user opening it. Just before, `notificationClicked`
//   hears of the click, with the activation token the server sent for it
//   (ActivationToken, ahead of ActionInvoked) or without one: the window the
//   click brings forward takes the focus with the token, or by other means.
// - When org.freedesktop.Notifications gets a new owner (a server started,
//   or replaced the one before), the delegate hears
//   notificationServerDidAppear, once the old server's capabilities are
//   forgotten; not when the server goes away. The centre watches the name
//   from its first request on (which makes the bus connection).
//
// Without a session bus or a server, permission is refused and every
// request fails with a message. Destroying the center cancels its requests
// in flight and releases their completions without running them.
std::unique_ptr<NotificationCenter> makeDBusNotificationCenter(
    sigc::slot<void, const std::optional<std::string>&> notificationClicked = {},
    const NotificationServerBounds& bounds = {});

} // namespace quorvel::gtk
