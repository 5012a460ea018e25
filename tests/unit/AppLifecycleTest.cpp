#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

class AppLifecycleTest : public AppFixture {};

// The order in which start-up touches the platform, one entry per step.
std::vector<std::string> startUpSteps(const std::vector<std::string>& calls) {
    std::vector<std::string> steps;
    const auto note = [&steps](const std::string& step) {
        if (steps.empty() || steps.back() != step) {
            steps.push_back(step);
        }
    };
    for (const std::string& call : calls) {
        if (call.starts_with("menuBar.setMainMenu")) {
            note("createMenu");
        } else if (call.starts_with("menuBar.createSquareStatusItem") ||
                   call.starts_with("statusItem.")) {
            note("createStatusItem");
        } else if (call.starts_with("process.launch")) {
            note("startServer");
        } else if (call.starts_with("webView.create") || call.starts_with("window.")) {
            note("createWindow");
        } else if (call.starts_with("notificationCenter.setDelegate")) {
            note("notificationDelegate");
        } else if (call.starts_with("webView.load") || call.starts_with("http.send")) {
            note("loadAppWhenReady");
        }
    }
    return steps;
}

TEST_F(AppLifecycleTest, StartUpRunsItsStepsInOrderForEachBackend) {
    makeApp(true);
    app->applicationDidFinishLaunching();
    EXPECT_THAT(startUpSteps(platform.calls),
                ElementsAre("createMenu", "createStatusItem", "createWindow",
                            "notificationDelegate", "loadAppWhenReady"));
    EXPECT_FALSE(app->hasServerProcess());
    // The data folder was made (with the configuration) before anything else.
    ASSERT_TRUE(app->dataFolder());
    EXPECT_EQ(*app->dataFolder(), platform.dataDirectory / "Quorvel");
    EXPECT_EQ(*app->logFilePath(),
              platform.dataDirectory / "Quorvel" / "desktop-notifications.log");
    EXPECT_TRUE(std::filesystem::exists(*app->dataFolder() / ".env"));
    EXPECT_FALSE(std::filesystem::exists(*app->logFilePath()));

    FakePlatform localPlatform;
    localPlatform.startUpNotes = {"web sandbox unavailable, web content runs without it: no bwrap"};
    auto local = std::make_shared<AppDelegate>(localPlatform, false, cloudURL);
    local->applicationDidFinishLaunching();
    EXPECT_THAT(startUpSteps(localPlatform.calls),
                ElementsAre("createMenu", "createStatusItem", "startServer", "createWindow",
                            "notificationDelegate", "loadAppWhenReady"));
    EXPECT_TRUE(local->hasServerProcess());
    // What the platform noted before the data folder existed is logged once
    // it does.
    EXPECT_THAT(readFile(*local->logFilePath()),
                HasSubstr("] web sandbox unavailable, web content runs without it: no bwrap\n"));
    EXPECT_TRUE(localPlatform.startUpNotes.empty());
}

TEST_F(AppLifecycleTest, ShutDownStopsTheTimerBeforeTheServerAndWaitsForNothing) {
    launch(false);
    app->applicationDidBecomeActive();
    platform.calls.clear();
    app->applicationWillTerminate();
    EXPECT_THAT(platform.calls, ElementsAre("timer.invalidate 1", "process.terminate"));

    FakePlatform cloudPlatform;
    auto cloud = std::make_shared<AppDelegate>(cloudPlatform, true, cloudURL);
    cloud->applicationDidFinishLaunching();
    cloudPlatform.calls.clear();
    cloud->applicationWillTerminate(); // no timer, no server: nothing to do
    EXPECT_TRUE(cloudPlatform.calls.empty());
}

// The platform outlives the application object: left alive by a call still
// pending, it would go in the middle of the platform's destructors.
TEST_F(AppLifecycleTest, TheApplicationObjectGoesWithItsOwnerWhateverIsStillPending) {
    launch(false);
    platform.completeRequestWithStatus(200); // the probe: the page's load is posted
    platform.runMainQueue();                 // the page loads; the announcement is sent
    app->didReceiveNotificationResponse("desktop-1", [] {}); // the window's showing is posted
    ASSERT_EQ(platform.pendingRequests.size(), 1U);
    platform.application().setDelegate(nullptr);
    const std::weak_ptr<AppDelegate> watched = app;
    app.reset();
    EXPECT_TRUE(watched.expired());
    // Nothing of the platform calls back into it.
    EXPECT_EQ(platform.windowDelegate, nullptr);
    EXPECT_EQ(platform.navigationDelegate, nullptr);
    EXPECT_EQ(platform.uiDelegate, nullptr);
    EXPECT_EQ(platform.notificationDelegate, nullptr);
    EXPECT_EQ(platform.systemEventsDelegate, nullptr);
    platform.completeRequestWithStatus(200);
    platform.runMainQueue();
    platform.advance(60);
}

TEST_F(AppLifecycleTest, RepeatedActivationLeavesExactlyOnePollTimer) {
    launch();
    for (int i = 0; i < 5; ++i) {
        app->applicationDidBecomeActive();
        // Each poll ends before the next activation.
        while (!platform.pendingRequests.empty()) {
            platform.completeRequestWithStatus(200, R"({"notifications":[]})");
        }
    }
    EXPECT_EQ(platform.liveTimerCount(), 1);
    EXPECT_EQ(platform.count("timer.schedule"), 5);
    EXPECT_EQ(platform.count("timer.invalidate"), 4);
    platform.calls.clear();
    platform.advance(8.0);
    EXPECT_EQ(platform.count("timer.fire"), 1);
}

TEST_F(AppLifecycleTest, LaunchFailureEndsStartUpThroughTheNormalShutDown) {
    platform.serverScript.reset();
    makeApp(false);
    app->applicationDidFinishLaunching();
    EXPECT_THAT(alertTexts(), ElementsAre("Quorvel无法启动"));
    EXPECT_EQ(platform.count("application.terminate"), 1);
    // No window and no probe after the fatal alert.
    EXPECT_EQ(platform.count("window."), 0);
    EXPECT_EQ(platform.count("http.send"), 0);
}

// Runs every item of the status menu but "退出", as a user may while a dialog
// is open or the application is quitting, and answers what they ask for:
// permission refused, every request answered 200 with one pending record.
void chooseEveryStatusCommand(FakePlatform& platform) {
    const Menu menu = *platform.statusMenu;
    for (const MenuItem& item : menu.items) {
        if (!item.separator && item.actionName != "terminate") {
            item.action();
        }
    }
    while (!platform.pendingAuthorizations.empty()) {
        platform.answerAuthorization(false);
    }
    while (!platform.pendingRequests.empty()) {
        platform.completeRequestWithStatus(
            200, R"({"notifications":[{"id":"n-1","messageTitle":"t","messageBody":"b"}]})");
    }
    platform.runMainQueue();
}

TEST_F(AppLifecycleTest, WindowCommandsDoNothingBeforeTheWindowExistsOrOnceQuitting) {
    // A failed launch shows its fatal alert before the window exists; the
    // status menu still works meanwhile.
    platform.serverScript.reset();
    makeApp(false);
    bool ran = false;
    platform.whileAlertOpen = [&](const AlertSpec& alert) {
        if (alert.messageText == "Quorvel无法启动" && !ran) {
            ran = true;
            platform.calls.clear();
            chooseEveryStatusCommand(platform);
        }
    };
    app->applicationDidFinishLaunching();
    ASSERT_TRUE(ran);
    // Only "打开配置文件", which needs no window, did something.
    EXPECT_THAT(platform.calls, ElementsAre("workspace.openFile " +
                                                (platform.dataDirectory / "Quorvel/.env").string(),
                                            "application.terminate"));
    EXPECT_THAT(alertTexts(), ElementsAre("Quorvel无法启动"));

    // Quitting while a sync, a poll and a test are under way: their answers
    // arrive, but nothing is shown, reloaded or acknowledged.
    FakePlatform running;
    auto cloud = std::make_shared<AppDelegate>(running, true, cloudURL);
    running.application().setDelegate(cloud.get());
    cloud->applicationDidFinishLaunching();
    cloud->syncQuotes();
    cloud->testDesktopNotification();
    cloud->pollDesktopNotifications(true);
    running.calls.clear();
    running.application().terminate();
    chooseEveryStatusCommand(running);
    cloud->showMainWindow();
    cloud->reloadWebView();
    cloud->didReceiveNotificationResponse("n-1", [] {});
    running.runMainQueue();
    for (const char* touched : {"window.", "webView.", "application.activate", "sound.beep",
                                "http.send", "notificationCenter."}) {
        EXPECT_EQ(running.count(touched), 0) << touched;
    }
    EXPECT_TRUE(running.shownAlerts.empty());
}

} // namespace
} // namespace quorvel::testing
