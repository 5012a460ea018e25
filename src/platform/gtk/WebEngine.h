#pragma once

#include <chrono>
#include <glib.h>
#include <gtk/gtk.h>
#include <optional>
#include <string>
#include <utility>

namespace quorvel::gtk {

// Whether the engine's bubblewrap sandbox can start here. The trial run it
// needs starts when this is created, so that it runs while the toolkit
// starts; result() waits for it, but no longer than `limit` after its start:
// a trial run still going then is killed and counts as a failure.
class SandboxTrial {
public:
    explicit SandboxTrial(std::chrono::milliseconds timeLimit = std::chrono::seconds(5),
                          std::string bubblewrapPath = "/usr/bin/bwrap");
    ~SandboxTrial();
    SandboxTrial(const SandboxTrial&) = delete;
    SandboxTrial& operator=(const SandboxTrial&) = delete;

    // Why the sandbox cannot start, or nothing when it can.
    std::optional<std::string> result();

private:
    std::chrono::milliseconds limit;
    std::string bubblewrap;
    std::chrono::steady_clock::time_point started;
    GPid pid = 0;
    std::optional<std::string> failure;

    // Waits for the trial run's end within the limit; a failure if it does
    // not end well. Reaps the child in every case.
    std::optional<std::string> finishTrialRun();
};

// The web engine of the application: its shared web context, the sandbox
// decision for it, and the views for the page. Create it before the toolkit
// starts (its sandbox trial runs meanwhile), and keep it longer than every
// view it made.
class WebEngine {
public:
    WebEngine();
    ~WebEngine();
    WebEngine(const WebEngine&) = delete;
    WebEngine& operator=(const WebEngine&) = delete;

    // Sets up the shared web context once, before any view or web process
    // exists: web content runs in the engine's bubblewrap sandbox where that
    // sandbox can start. Returns a line for the diagnostic log when web
    // content has to run without it.
    std::optional<std::string> prepare();

    // At the application's start-up: prepare(), then, if `startEarly`,
    // startEarlyWebProcess(). The line prepare() returns waits for
    // takeNote().
    void launch(bool startEarly);
    std::optional<std::string> takeNote() { return std::exchange(startUpNote, std::nullopt); }

    // Has the engine start a web process now, ahead of the first page view's
    // first load, so that it starts while the application waits for
    // something else. Call after prepare(), before any page view exists.
    void startEarlyWebProcess();

    // A new (floating) web view on the shared context, with the page's
    // settings. The first one after startEarlyWebProcess() takes over the
    // process it started.
    GtkWidget* newPageWebView();

private:
    SandboxTrial sandboxTrial;
    std::optional<std::string> startUpNote;
    // A view that is never shown and whose only purpose is to have the engine
    // start a web process; the page view that takes it over is created
    // related to it and so shares that process. It goes once that page view
    // has committed its first load.
    GtkWidget* earlyView = nullptr;
    // The page view that took over the early view's process, while it lives
    // and has not committed a load yet.
    GtkWidget* earlyViewTaker = nullptr;

    void stopWatchingTaker();
    void releaseEarlyView();
    static void onTakerLoadChanged(GtkWidget* view, int event, gpointer self);
};

} // namespace quorvel::gtk
