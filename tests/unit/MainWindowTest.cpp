#include "unit/AppFixture.h"

#include <gmock/gmock.h>

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;

class MainWindowTest : public AppFixture {};

TEST_F(MainWindowTest, CreatesTheWindowWithItsWebViewAndLoadsNothing) {
    makeApp();
    app->createWindow();
    EXPECT_THAT(platform.calls,
                ElementsAre("webView.create", "webView.setNavigationDelegate",
                            "webView.setUIDelegate",
                            "window.create 1280x820 titled,closable,miniaturizable,resizable",
                            "window.setTitle Quorvel", "window.center", "window.setContentView",
                            "window.makeKeyAndOrderFront"));
    EXPECT_EQ(platform.navigationDelegate, app.get());
    EXPECT_EQ(platform.uiDelegate, app.get());
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

} // namespace
} // namespace quorvel::testing
