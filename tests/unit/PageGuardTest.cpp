#include "fake/TestFiles.h"
#include "unit/AppFixture.h"

#include <fstream>

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;

// What the page may do, as the application object decides it, with the data
// and download folders on disk.
class PageGuardTest : public AppFixture {
protected:
    void SetUp() override {
        platform.dataDirectory = root_ / "share";
        platform.downloadsDirectory = root_ / "下载";
        launch();
    }
    bool navigate(const std::string& url, bool user, bool newWindow = false) {
        return platform.navigationDelegate->webViewShouldStartNavigation(
            NavigationAction{url, user, newWindow});
    }

    TemporaryFolder temporary_{"page"};
    fs::path root_ = temporary_.path();
};

TEST_F(PageGuardTest, AnotherOriginNeverLoadsAndOpensInTheDesktopOnlyFromTheUser) {
    EXPECT_TRUE(navigate("http://203.0.113.10/rules", false));
    EXPECT_FALSE(navigate("https://example.org/news", true));
    EXPECT_FALSE(navigate("https://example.org/ad", false));
    EXPECT_FALSE(navigate("mailto:ir@example.org", true, true));
    EXPECT_FALSE(navigate("http://203.0.113.10/popup", false, true));
    EXPECT_THAT(platform.calls, ::testing::ElementsAre("workspace.openURL https://example.org/news",
                                                       "workspace.openURL mailto:ir@example.org"));
    EXPECT_THAT(logText(),
                HasSubstr("navigation open-in-desktop url=https://example.org/news user=true"));
    EXPECT_THAT(logText(), HasSubstr("navigation refused url=https://example.org/ad user=false"));
    EXPECT_THAT(logText(),
                HasSubstr("new window refused url=http://203.0.113.10/popup user=false"));
}

TEST_F(PageGuardTest, TheUserStopsADialogLoopUntilThePageLoadsAgain) {
    int alerts = 0;
    app->runJavaScriptAlertPanel("1", [&] { ++alerts; });
    EXPECT_FALSE(platform.shownAlerts.back().checkBox);
    // Answered; the next comes after more than ten seconds: no check box.
    platform.advance(10.5);
    app->runJavaScriptAlertPanel("2", [&] { ++alerts; });
    EXPECT_FALSE(platform.shownAlerts.back().checkBox);
    platform.advance(10);
    AlertResult stop{alertFirstButtonReturn, ""};
    stop.checkBoxChecked = true;
    platform.alertAnswers.push_back(stop);
    app->runJavaScriptAlertPanel("3", [&] { ++alerts; });
    EXPECT_EQ(platform.shownAlerts.back().checkBox, "阻止此页面继续弹出对话框(_B)");

    // Stopped: answered at once, as if dismissed, without being shown.
    std::optional<bool> confirmed;
    std::optional<std::string> entered = "unset";
    app->runJavaScriptAlertPanel("4", [&] { ++alerts; });
    app->runJavaScriptConfirmPanel("5", [&](bool ok) { confirmed = ok; });
    app->runJavaScriptTextInputPanel("6", "x", [&](std::optional<std::string> t) { entered = t; });
    EXPECT_EQ(alerts, 4);
    EXPECT_EQ(confirmed, false);
    EXPECT_EQ(entered, std::nullopt);
    EXPECT_EQ(platform.shownAlerts.size(), 3u);
    EXPECT_THAT(logText(), HasSubstr("script dialog not shown type=confirm"));

    platform.navigationDelegate->webViewDidCommitNavigation();
    app->runJavaScriptConfirmPanel("7", [&](bool ok) { confirmed = ok; });
    EXPECT_EQ(platform.shownAlerts.size(), 4u);
    EXPECT_FALSE(platform.shownAlerts.back().checkBox);
    EXPECT_EQ(confirmed, true);
}

TEST_F(PageGuardTest, AReloadDuringAPageDialogClosesItAndAnswersTheNextUntilThePageLoads) {
    platform.finishNavigation();
    platform.whileAlertOpen = [&](const AlertSpec&) {
        platform.whileAlertOpen = nullptr;
        app->reloadWebView();
    };
    std::optional<bool> confirmed;
    app->runJavaScriptConfirmPanel("1", [&](bool ok) { confirmed = ok; });
    EXPECT_EQ(confirmed, false);
    app->runJavaScriptAlertPanel("2", [] {});
    EXPECT_EQ(platform.shownAlerts.size(), 1u);
    EXPECT_THAT(platform.calls,
                ::testing::IsSupersetOf({"alerts.dismissNewest", "webView.reload"}));

    platform.navigationDelegate->webViewDidCommitNavigation();
    app->runJavaScriptAlertPanel("3", [] {});
    EXPECT_EQ(platform.shownAlerts.size(), 2u);
    // Outside a page dialog a reload closes nothing.
    platform.calls.clear();
    app->reloadWebView();
    EXPECT_THAT(platform.calls, ::testing::Not(::testing::Contains("alerts.dismissNewest")));
}

TEST_F(PageGuardTest, APageThatStopsAnsweringIsEndedAfterTenSecondsAndCountsAsNoCrash) {
    auto& page = *platform.navigationDelegate;
    page.webViewWebContentProcessResponsivenessChanged(false);
    platform.advance(9);
    page.webViewWebContentProcessResponsivenessChanged(true);
    page.webViewWebContentProcessResponsivenessChanged(false);
    platform.advance(9);
    EXPECT_EQ(platform.count("webView.terminateWebProcess"), 0);
    platform.advance(1);
    EXPECT_EQ(platform.count("webView.terminateWebProcess"), 1);
    page.webViewWebContentProcessDidTerminate(WebProcessTermination::RequestedByApplication);
    EXPECT_EQ(platform.calls.back(), "webView.showMessagePage Quorvel "
                                     "页面长时间无响应，已停止。请选择“刷新”（Ctrl+R）重新加载。");
    platform.advance(60);
    EXPECT_EQ(platform.count("webView.terminateWebProcess"), 1);

    // A refresh loads the page anew, and three crashes still reload it.
    platform.calls.clear();
    app->reloadWebView();
    EXPECT_EQ(platform.count("webView.load http://203.0.113.10"), 1);
    for (int i = 0; i < 3; ++i) {
        page.webViewWebContentProcessDidTerminate(WebProcessTermination::Crashed);
    }
    EXPECT_EQ(platform.count("webView.reload"), 3);

    // Being ended, it crashed first: reloaded, it is a page like any other,
    // and its rest while hidden later is no end for not answering.
    platform.advance(60);
    page.webViewWebContentProcessResponsivenessChanged(false);
    platform.advance(10);
    page.webViewWebContentProcessDidTerminate(WebProcessTermination::Crashed);
    platform.windowDelegate->windowDidClose();
    platform.advance(600);
    page.webViewWebContentProcessDidTerminate(WebProcessTermination::RequestedByApplication);
    EXPECT_EQ(platform.count("webView.terminateWebProcess"), 2);
    EXPECT_EQ(platform.count("webView.showMessagePage"), 0);
}

TEST_F(PageGuardTest, ADownloadIsWrittenAsidePutUnderAFreeNameAndItsNotificationOpensTheFolder) {
    auto& page = *platform.navigationDelegate;
    platform.finishNavigation();
    platform.completeRequestWithStatus(204);
    platform.answerAuthorization(true);
    platform.runMainQueue();
    EXPECT_FALSE(page.webViewShouldAllowDownload("http://198.51.100.7/notes.txt"));
    EXPECT_FALSE(page.webViewDownloadDestination("data:text/plain,x", "notes.txt"));
    ASSERT_TRUE(page.webViewShouldAllowDownload("http://203.0.113.10/export"));

    const fs::path folder = platform.downloadsDirectory;
    const auto first = page.webViewDownloadDestination("http://203.0.113.10/export", "notes.txt");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->parent_path(), folder);
    EXPECT_FALSE(fs::exists(*first));
    std::ofstream(folder / "notes.txt") << "old";
    std::ofstream(*first) << "new";
    page.webViewDownloadDidFinish(*first);
    EXPECT_FALSE(fs::exists(*first));
    EXPECT_EQ(readFile(folder / "notes (1).txt"), "new");
    ASSERT_FALSE(platform.addedNotifications.empty());
    const NotificationRequest& done = platform.addedNotifications.back();
    EXPECT_EQ(done.title, "已下载 notes (1).txt");

    // A failed one leaves nothing behind.
    const auto second = page.webViewDownloadDestination("http://203.0.113.10/e", "../行情.csv");
    ASSERT_TRUE(second);
    std::ofstream(*second) << "part";
    page.webViewDownloadDidFail(*second, "Connection reset");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    EXPECT_THAT(logText(), HasSubstr("download refused url=http://198.51.100.7/notes.txt"));
    EXPECT_THAT(logText(), HasSubstr("download finished name=notes (1).txt"));
    EXPECT_THAT(logText(), HasSubstr("download failed name=行情.csv error=Connection reset"));

    platform.calls.clear();
    app->didReceiveNotificationResponse(done.identifier, [] {});
    platform.runMainQueue();
    EXPECT_EQ(platform.calls.back(), "workspace.openFile " + folder.string());
    EXPECT_EQ(platform.count("window.makeKeyAndOrderFront"), 0);
}

} // namespace
} // namespace quorvel::testing
