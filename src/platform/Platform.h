#pragma once

#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/ChildProcess.h"
#include "platform/DesktopServices.h"
#include "platform/HttpClient.h"
#include "platform/Interface.h"
#include "platform/MainQueue.h"
#include "platform/Menu.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemEnvironment.h"
#include "platform/SystemEvents.h"
#include "platform/WebView.h"
#include "platform/Window.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel {

// Every platform service the application object uses.
struct Platform : Interface {
    virtual Application& application() = 0;
    virtual MainQueue& mainQueue() = 0;
    virtual HttpClient& httpClient() = 0;
    virtual NotificationCenter& notificationCenter() = 0;
    virtual Alerts& alerts() = 0;
    virtual MenuBar& menuBar() = 0;
    virtual Pasteboard& pasteboard() = 0;
    virtual Workspace& workspace() = 0;
    virtual Sound& sound() = 0;
    virtual ProcessLauncher& processLauncher() = 0;
    virtual const SystemEnvironment& environment() = 0;
    virtual SystemEvents& systemEvents() = 0;

    // Lines for the diagnostic log that the platform gathered while starting,
    // before the data folder existed (that web content runs without the
    // engine's sandbox, say); each is handed over once.
    virtual std::vector<std::string> takeStartUpNotes() { return {}; }

    // A web view with the engine's default settings, showing nothing yet.
    // The platform owns it: it lasts as long as the platform.
    virtual WebView& createWebView() = 0;
    // A window with the given content size, not yet on screen. The platform
    // owns it: it lasts as long as the platform.
    virtual Window& createWindow(int contentWidth, int contentHeight, const WindowStyle& style) = 0;
};

} // namespace quorvel
