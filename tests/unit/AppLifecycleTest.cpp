#include "unit/AppFixture.h"

#include <gmock/gmock.h>

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;

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
    auto local = std::make_shared<AppDelegate>(localPlatform, false, cloudURL);
    local->applicationDidFinishLaunching();
    EXPECT_THAT(startUpSteps(localPlatform.calls),
                ElementsAre("createMenu", "createStatusItem", "startServer", "createWindow",
                            "notificationDelegate", "loadAppWhenReady"));
    EXPECT_TRUE(local->hasServerProcess());
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

} // namespace
} // namespace quorvel::testing
