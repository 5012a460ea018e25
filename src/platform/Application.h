#pragma once

#include "platform/Interface.h"

namespace quorvel {

// Receives the three application-level events, always on the main thread.
struct ApplicationDelegate : Interface {
    virtual void applicationDidFinishLaunching() = 0;
    virtual void applicationWillTerminate() = 0;
    virtual void applicationDidBecomeActive() = 0;
};

// The shared application: event loop, activation and termination.
struct Application : Interface {
    // The delegate must outlive the event loop.
    virtual void setDelegate(ApplicationDelegate* delegate) = 0;
    // Brings the application in front of all others.
    virtual void activate() = 0;
    // Runs the event loop; returns the process exit status once it ends.
    virtual int run() = 0;
    // Ends the event loop through the normal path, so the delegate's
    // applicationWillTerminate runs first.
    virtual void terminate() = 0;
    // True once terminate has been asked for; the event loop ends as soon as
    // the current event has been handled.
    virtual bool isTerminating() const = 0;
    // True when the command line asked to start without showing the window
    // (at login, say): everything else starts as usual.
    virtual bool startsInBackground() const { return false; }
};

} // namespace quorvel
