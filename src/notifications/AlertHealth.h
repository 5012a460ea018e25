#pragma once

#include <optional>

namespace quorvel {

// Whether the alerts reach the shell, as the polls of the pending list find.
enum class AlertFlow { Flowing, Outage, SignedOut };

// What the user is told once, when the flow of alerts changes.
enum class AlertFlowNotice { None, Outage, SignedOut, Recovered };

// Decides from the outcome of each poll whether alerts flow, and when the
// user is to be told: an outage once polls have failed for two minutes in a
// row, a sign-out once the service has answered 401 twice in a row, and the
// recovery from a told outage. Each change is told once. Used on the main
// thread only.
class AlertHealth {
public:
    static constexpr double outageSeconds = 120.0;

    AlertFlow flow() const { return state; }

    // The list arrived and decoded.
    AlertFlowNotice pollSucceeded();
    // No answer, a time-out, a status outside 200-299 other than 401, or a
    // list that did not decode.
    AlertFlowNotice pollFailed(double now);
    AlertFlowNotice pollUnauthorized();

    // Another notice tells the user the alerts stopped (the local service's
    // own): true when it is to be shown, false when this outage was told
    // already. Either way the outage counts as told.
    bool claimOutageNotice();

private:
    AlertFlow state = AlertFlow::Flowing;
    std::optional<double> failingSince;
    int unauthorizedInRow = 0;
    // The user was told that alerts stopped; the recovery is told too.
    bool outageTold = false;
};

} // namespace quorvel
