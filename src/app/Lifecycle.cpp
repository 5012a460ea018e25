#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::applicationDidFinishLaunching() {
    // The folder's name stays whatever the application comes to be called:
    // the user's configuration and log are there.
    appSupport = platform.environment().userDataDirectory() / "Quorvel";
    logFile = *appSupport / "desktop-notifications.log";
    createSupportFiles();
    for (const std::string& note : platform.takeStartUpNotes()) {
        log(note);
    }
    createMenu();
    createStatusItem();
    if (!useCloudBackend) {
        startServer();
        // A launch failure has already ended the application.
        if (platform.application().isTerminating()) {
            return;
        }
    }
    createWindow();
    platform.notificationCenter().setDelegate(this);
    platform.systemEvents().setDelegate(this);
    loadAppWhenReady();
}

void AppDelegate::applicationWillTerminate() {
    if (notificationTimer) {
        notificationTimer->invalidate();
    }
    if (serverProcess) {
        serverProcess->terminate();
    }
}

void AppDelegate::applicationDidBecomeActive() {
    clearUnseenAlerts();
    startDesktopNotificationPolling();
}

} // namespace quorvel
