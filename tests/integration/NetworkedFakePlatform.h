#pragma once

#include "app/AppDelegate.h"
#include "fake/FakePlatform.h"
#include "fake/TestFiles.h"
#include "integration/LoopbackHttpServer.h"
#include "integration/MainLoop.h"
#include "platform/gtk/GlibMainQueue.h"
#include "platform/gtk/SoupHttpClient.h"

#include <gmock/gmock.h>
#include <memory>

namespace quorvel::testing {

using quorvel::test::LoopbackHttpServer;
using quorvel::test::ScriptedResponse;
using ::testing::ElementsAre;
using ::testing::StartsWith;

// The recording fake platform, but with the real HTTP client and the real
// main loop, so the application object talks to a server on loopback.
class NetworkedFakePlatform final : public Platform {
public:
    FakePlatform fake;

    Application& application() override { return fake.application(); }
    MainQueue& mainQueue() override { return *queue; }
    HttpClient& httpClient() override { return *http; }
    NotificationCenter& notificationCenter() override { return fake.notificationCenter(); }
    Alerts& alerts() override { return fake.alerts(); }
    MenuBar& menuBar() override { return fake.menuBar(); }
    Pasteboard& pasteboard() override { return fake.pasteboard(); }
    Workspace& workspace() override { return fake.workspace(); }
    Sound& sound() override { return fake.sound(); }
    ProcessLauncher& processLauncher() override { return fake.processLauncher(); }
    const SystemEnvironment& environment() override { return fake.environment(); }
    SystemEvents& systemEvents() override { return fake.systemEvents(); }
    WebView& createWebView() override { return fake.createWebView(); }
    Window& createWindow(int width, int height, const WindowStyle& style) override {
        return fake.createWindow(width, height, style);
    }

    // Runs the main loop until the condition holds or `seconds` pass.
    bool runUntil(const std::function<bool()>& done, double seconds = 10) {
        return gtk::iterateMainLoopUntil(done, seconds);
    }
    void runFor(double seconds) {
        gtk::iterateMainLoopUntil([] { return false; }, seconds);
    }

private:
    std::unique_ptr<MainQueue> queue = gtk::makeGlibMainQueue();
    std::unique_ptr<HttpClient> http = gtk::makeSoupHttpClient();
};

// The application object with the cloud backend pointed at a scripted server
// on loopback, launched.
class CloudAppOnLoopback : public ::testing::Test {
protected:
    NetworkedFakePlatform platform;
    LoopbackHttpServer server;
    std::shared_ptr<AppDelegate> app;

    void SetUp() override { launch(server.baseUrl()); }

    virtual void launch(const std::string& baseURL) {
        app = std::make_shared<AppDelegate>(platform, true, baseURL);
        app->applicationDidFinishLaunching();
    }
};

} // namespace quorvel::testing
