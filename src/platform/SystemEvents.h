#pragma once

#include "platform/Interface.h"

namespace quorvel {

// What happens to the machine around the application.
struct SystemEventsDelegate : Interface {
    // The network's configuration changed (a link or a route came or went).
    virtual void networkDidChange() = 0;
    // The machine woke up from sleep.
    virtual void systemDidResume() = 0;
};

// Reports network changes and wake-ups; where the system cannot tell (no
// system bus, no login manager), they are simply never reported.
struct SystemEvents : Interface {
    virtual void setDelegate(SystemEventsDelegate* delegate) = 0;
};

} // namespace quorvel
