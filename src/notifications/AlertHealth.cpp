#include "notifications/AlertHealth.h"

namespace quorvel {

AlertFlowNotice AlertHealth::pollSucceeded() {
    failingSince.reset();
    unauthorizedInRow = 0;
    state = AlertFlow::Flowing;
    if (outageTold) {
        outageTold = false;
        return AlertFlowNotice::Recovered;
    }
    return AlertFlowNotice::None;
}

AlertFlowNotice AlertHealth::pollFailed(double now) {
    unauthorizedInRow = 0;
    if (!failingSince) {
        failingSince = now;
    }
    if (state == AlertFlow::Outage || now - *failingSince < outageSeconds) {
        return AlertFlowNotice::None;
    }
    state = AlertFlow::Outage;
    if (outageTold) {
        return AlertFlowNotice::None;
    }
    outageTold = true;
    return AlertFlowNotice::Outage;
}

// The service answers, so it is not an outage; the user has to sign in.
AlertFlowNotice AlertHealth::pollUnauthorized() {
    failingSince.reset();
    if (++unauthorizedInRow < 2 || state == AlertFlow::SignedOut) {
        return AlertFlowNotice::None;
    }
    state = AlertFlow::SignedOut;
    outageTold = false;
    return AlertFlowNotice::SignedOut;
}

bool AlertHealth::claimOutageNotice() {
    if (state == AlertFlow::Outage && outageTold) {
        return false;
    }
    state = AlertFlow::Outage;
    outageTold = true;
    return true;
}

} // namespace quorvel
