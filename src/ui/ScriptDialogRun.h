#pragma once

#include <optional>

namespace quorvel {

// The page's script dialogs one after another. A dialog that comes soon
// after the previous one was answered offers to stop the page's dialogs;
// once stopped, they stay stopped until the page loads anew.
class ScriptDialogRun {
public:
    static constexpr double spellSeconds = 10.0;

    // Whether a dialog shown at `now` offers to stop the page's dialogs.
    bool offersStop(double now) const { return lastAnswer && now - *lastAnswer <= spellSeconds; }
    void opened() { showing = true; }
    void answered(double now) {
        lastAnswer = now;
        showing = false;
    }
    bool isShowing() const { return showing; }
    void stop() { stopped = true; }
    bool isStopped() const { return stopped; }
    // The page loaded anew.
    void reset() {
        lastAnswer.reset();
        stopped = false;
    }

private:
    std::optional<double> lastAnswer;
    bool stopped = false;
    bool showing = false;
};

} // namespace quorvel
