#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

class MainWindowTest : public AppFixture {};

TEST_F(MainWindowTest, CreatesTheWindowWithItsWebViewAndLoadsNothing) {
    makeApp();
    app->createWindow();
    EXPECT_THAT(platform.calls,
                ElementsAre("webView.create", "webView.setNavigationDelegate",
                            "webView.setUIDelegate",
                            "window.create 1280x820 titled,closable,miniaturizable,resizable",
                            "window.setDelegate", "window.setTitle Quorvel", "window.center",
                            "window.setContentView", "window.makeKeyAndOrderFront"));
    EXPECT_EQ(platform.navigationDelegate, app.get());
    EXPECT_EQ(platform.uiDelegate, app.get());
    EXPECT_EQ(platform.windowDelegate, app.get());
}

// Started at login, the window stays closed, and like a closed one its page
// rests after a while; everything else starts as usual.
TEST_F(MainWindowTest, AStartInTheBackgroundLeavesTheWindowClosed) {
    platform.background = true;
    makeApp();
    app->applicationDidFinishLaunching();
    EXPECT_EQ(platform.count("window.create"), 1);
    EXPECT_EQ(platform.count("window.makeKeyAndOrderFront"), 0);
    EXPECT_EQ(platform.count("webView.load"), 1);
    platform.finishNavigation();
    platform.advance(600);
    EXPECT_EQ(platform.count("webView.terminateWebProcess"), 1);
    app->showMainWindow();
    EXPECT_EQ(platform.count("window.makeKeyAndOrderFront"), 1);
}

TEST_F(MainWindowTest, ShowAndReloadTouchOnlyWhatTheyName) {
    launch();
    app->showMainWindow();
    app->reloadWebView();
    EXPECT_THAT(platform.calls, ElementsAre("window.makeKeyAndOrderFront", "application.activate",
                                            "webView.reload"));
}

TEST_F(MainWindowTest, OnlyTheFirstFinishedNavigationPreparesNotifications) {
    launch();
    platform.failNavigation();
    EXPECT_FALSE(app->preparedDesktopNotifications());
    EXPECT_EQ(platform.count("http.send"), 0);

    platform.finishNavigation();
    EXPECT_TRUE(app->preparedDesktopNotifications());
    EXPECT_EQ(
        platform.count("http.send POST http://203.0.113.10/api/desktop-notifications/initialize"),
        1);

    // A reload, a followed link and the reload after a quote sync each finish
    // a navigation; none prepares again.
    app->reloadWebView();
    platform.finishNavigation();
    platform.finishNavigation();
    platform.finishNavigation();
    EXPECT_EQ(platform.count("http.send POST"), 1);
}

TEST_F(MainWindowTest, TheEndedPageReloadsWithinItsBudgetThenShowsWhyUntilARefresh) {
    launch();
    platform.finishNavigation();
    platform.calls.clear();
    const auto crash = [this] {
        platform.navigationDelegate->webViewWebContentProcessDidTerminate(
            WebProcessTermination::Crashed);
    };
    // Ended on purpose: no reload, no page of its own.
    platform.navigationDelegate->webViewWebContentProcessDidTerminate(
        WebProcessTermination::RequestedByApplication);
    EXPECT_TRUE(platform.calls.empty());

    crash();
    platform.advance(59);
    platform.navigationDelegate->webViewWebContentProcessDidTerminate(
        WebProcessTermination::ExceededMemoryLimit);
    platform.advance(59);
    crash();
    EXPECT_EQ(platform.count("webView.reload"), 3);
    platform.advance(59);
    crash(); // the fourth in a row without a quiet minute
    EXPECT_THAT(platform.calls.back(),
                "webView.showMessagePage Quorvel "
                "页面多次意外退出，已停止自动重新加载。请选择“刷新”（Ctrl+R）重试。");
    platform.advance(600);
    EXPECT_EQ(platform.count("webView.reload"), 3);

    // A refresh loads the page itself again, with the whole budget back.
    platform.calls.clear();
    app->reloadWebView();
    EXPECT_THAT(platform.calls, ElementsAre("webView.load http://203.0.113.10 cache=1 timeout=60"));
    for (int i = 0; i < 3; ++i) {
        crash();
    }
    EXPECT_EQ(platform.count("webView.reload"), 3);
    // A quiet minute gives it back too.
    platform.advance(60);
    crash();
    EXPECT_EQ(platform.count("webView.reload"), 4);
    // Finished reloads never prepare a second time.
    platform.finishNavigation();
    EXPECT_EQ(platform.count("http.send POST"), 0);
}

TEST_F(MainWindowTest, APageLeftClosedForTenMinutesGivesItsProcessBackUntilShown) {
    launch();
    platform.finishNavigation();
    platform.completeRequestWithStatus(204);
    platform.answerAuthorization(true);
    platform.runMainQueue();
    platform.calls.clear();
    // Closed and shown again within the ten minutes: nothing happens.
    platform.windowDelegate->windowDidClose();
    platform.advance(300);
    platform.windowDelegate->windowDidShow();
    platform.advance(600);
    EXPECT_EQ(platform.count("webView."), 0);
    platform.windowDelegate->windowDidClose();
    platform.advance(599);
    EXPECT_EQ(platform.count("webView."), 0);
    platform.advance(1);
    EXPECT_THAT(platform.calls, ::testing::Contains("webView.terminateWebProcess"));
    platform.navigationDelegate->webViewWebContentProcessDidTerminate(
        WebProcessTermination::RequestedByApplication);
    platform.advance(3600);
    EXPECT_EQ(platform.count("webView."), 1);
    EXPECT_EQ(platform.liveTimerCount(), 1); // polling goes on

    // Back on screen: loaded once, and the crash budget is still whole.
    platform.windowDelegate->windowDidShow();
    platform.windowDelegate->windowDidShow();
    EXPECT_EQ(platform.count("webView.reload"), 1);
    for (int i = 0; i < 3; ++i) {
        platform.navigationDelegate->webViewWebContentProcessDidTerminate(
            WebProcessTermination::Crashed);
    }
    EXPECT_EQ(platform.count("webView.reload"), 4);
    EXPECT_EQ(platform.count("webView.showMessagePage"), 0);
}

TEST_F(MainWindowTest, AFailedLoadIsRetriedLaterEachTimeAndAtOnceOnANetworkChangeOrAWakeUp) {
    launch();
    const std::string load = "webView.load http://203.0.113.10 cache=1 timeout=60";
    std::vector<double> retriedAfter;
    const auto failAndTimeTheRetry = [&] {
        platform.failNavigation();
        const double failedAt = platform.mainQueue().now();
        while (platform.count(load) == 0) {
            platform.advance(1);
        }
        retriedAfter.push_back(platform.mainQueue().now() - failedAt);
        platform.calls.clear();
    };
    for (int i = 0; i < 7; ++i) {
        failAndTimeTheRetry();
    }
    EXPECT_THAT(retriedAfter, ElementsAre(2, 4, 8, 16, 32, 60, 60));

    // The network comes back: at once, and the try that was waiting is dropped.
    platform.failNavigation();
    platform.systemEventsDelegate->networkDidChange();
    EXPECT_EQ(platform.count(load), 1);
    platform.systemEventsDelegate->systemDidResume();
    EXPECT_EQ(platform.count(load), 2);
    platform.advance(120);
    EXPECT_EQ(platform.count(load), 2);

    // Once a load finished, nothing more is retried, and the next failure
    // waits the shortest delay again.
    platform.finishNavigation();
    EXPECT_TRUE(app->preparedDesktopNotifications());
    platform.systemEventsDelegate->networkDidChange();
    EXPECT_EQ(platform.count(load), 2);
    platform.calls.clear();
    failAndTimeTheRetry();
    EXPECT_EQ(retriedAfter.back(), 2);
}

} // namespace
} // namespace quorvel::testing
