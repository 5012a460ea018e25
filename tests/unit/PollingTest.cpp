#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

const char* const pending = "http://203.0.113.10/api/desktop-notifications/pending";

std::string threeRecords() {
    return R"({"notifications":[
        {"id":"n-1","messageTitle":"贵州茅台 突破 1800","messageBody":"现价 1801.00"},
        {"id":"n-2","messageTitle":"腾讯控股","messageBody":"跌破 300","sourceType":"rule"},
        {"id":"n-3","messageTitle":"平安银行","messageBody":"","sourceId":null}]})";
}

class PollingTest : public LaunchedAppFixture {
protected:
    std::vector<std::string> sentUrls() const {
        std::vector<std::string> urls;
        for (const auto& request : platform.sentRequests) {
            urls.push_back(request.method + " " + request.url);
        }
        return urls;
    }
};

TEST_F(PollingTest, StartingPollsAtOnceAndEveryEightSeconds) {
    app->startDesktopNotificationPolling();
    EXPECT_THAT(sentUrls(), ElementsAre(std::string("GET ") + pending));
    platform.completeRequestWithStatus(200, R"({"notifications":[]})");
    platform.advance(7.9);
    EXPECT_EQ(platform.sentRequests.size(), 1u);
    platform.advance(0.1);
    EXPECT_EQ(platform.sentRequests.size(), 2u);
    platform.completeRequestWithStatus(200, R"({"notifications":[]})");
    platform.advance(8);
    EXPECT_EQ(platform.sentRequests.size(), 3u);
    EXPECT_TRUE(platform.shownAlerts.empty()); // the timer never reports
}

TEST_F(PollingTest, TheGuardDropsOverlappingPollsAndThePollInFlightAnswersTheCheck) {
    app->pollDesktopNotifications();
    EXPECT_TRUE(app->pollInFlight());
    app->applicationDidBecomeActive();   // new timer, immediate poll dropped
    app->checkDesktopNotificationsNow(); // permission first, then no second request
    platform.answerAuthorization(true);
    platform.advance(8); // the timer's poll is dropped too
    EXPECT_EQ(platform.sentRequests.size(), 1u);
    EXPECT_EQ(platform.liveTimerCount(), 1);
    platform.runMainQueue();
    EXPECT_TRUE(platform.shownAlerts.empty());

    // The outcome of the poll in flight is the check's answer, given once.
    platform.failRequest();
    EXPECT_FALSE(app->pollInFlight());
    platform.runMainQueue();
    EXPECT_THAT(alertTexts(), ElementsAre("暂时无法连接云端提醒服务。"));
    app->pollDesktopNotifications();
    EXPECT_EQ(platform.sentRequests.size(), 2u);
    platform.completeRequestWithStatus(200, R"({"notifications":[]})");
    platform.runMainQueue();
    EXPECT_EQ(platform.shownAlerts.size(), 1u);
}

TEST_F(PollingTest, RecordsAreDeliveredInOrderAndEachIsAcknowledged) {
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(200, threeRecords());
    // Permission is still missing: fallback dialogs, acknowledged at once.
    EXPECT_FALSE(app->pollInFlight());
    EXPECT_THAT(
        sentUrls(),
        ElementsAre(std::string("GET ") + pending,
                    "POST http://203.0.113.10/api/desktop-notifications/n-1/mark-notified",
                    "POST http://203.0.113.10/api/desktop-notifications/n-2/mark-notified",
                    "POST http://203.0.113.10/api/desktop-notifications/n-3/mark-notified"));
    for (const auto& request : platform.sentRequests) {
        EXPECT_THAT(
            request.headers,
            ElementsAre(std::pair<std::string, std::string>{"X-Quorvel-Desktop", "1"},
                        std::pair<std::string, std::string>{"X-Quorvel-Device", "desktop"}));
    }
    platform.runMainQueue();
    EXPECT_THAT(alertTexts(), ElementsAre("贵州茅台 突破 1800", "腾讯控股", "平安银行"));
    EXPECT_EQ(platform.shownAlerts[0].informativeText, "现价 1801.00");
    EXPECT_EQ(platform.count("sound.beep"), 3);
    EXPECT_THAT(logText(), HasSubstr("] pending-loaded pending loaded count=3\n"));
}

TEST_F(PollingTest, SystemNotificationsAreAcknowledgedWhenTheCentreAnswers) {
    app->checkDesktopNotificationsNow();
    EXPECT_EQ(platform.authorizationOptions, std::vector<unsigned>{7});
    platform.answerAuthorization(true);
    platform.completeRequestWithStatus(200, threeRecords());
    ASSERT_EQ(platform.addedNotifications.size(), 3u);
    EXPECT_EQ(platform.addedNotifications[1].identifier, "n-2");
    EXPECT_EQ(platform.sentRequests.size(), 1u); // no acknowledgement before the answers

    platform.answerNotification();
    platform.answerNotification("server refused"); // refused: fallback, still acknowledged
    platform.answerNotification();
    EXPECT_EQ(platform.sentRequests.size(), 4u);
    platform.runMainQueue();
    EXPECT_THAT(alertTexts(), ElementsAre("腾讯控股"));
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("] local-notification local notification id=n-1 success=true\n"));
    EXPECT_THAT(log, HasSubstr("] local-notification local notification id=n-2 success=false\n"));
}

TEST_F(PollingTest, TheCheckCommandReportsEveryEmptyOrFailedResult) {
    const auto check = [this](auto answer) {
        platform.shownAlerts.clear();
        app->checkDesktopNotificationsNow();
        platform.answerAuthorization(false);
        answer();
        platform.runMainQueue();
        return alertTexts();
    };
    EXPECT_THAT(check([this] { platform.completeRequestWithStatus(401, R"({"error":"login"})"); }),
                ElementsAre("请先在Quorvel里登录账号。"));
    EXPECT_THAT(check([this] { platform.failRequest(); }),
                ElementsAre("暂时无法连接云端提醒服务。"));
    EXPECT_THAT(check([this] { platform.completeRequestWithStatus(500); }),
                ElementsAre("暂时无法连接云端提醒服务。"));
    EXPECT_THAT(check([this] { platform.completeRequestWithStatus(200, "[]"); }),
                ElementsAre("云端提醒数据解析失败。"));
    EXPECT_THAT(
        check([this] { platform.completeRequestWithStatus(200, R"({"notifications":[]})"); }),
        ElementsAre("当前没有待弹出的云端提醒。"));
    EXPECT_FALSE(app->notificationsAllowed());
    EXPECT_THAT(logText(), HasSubstr("] pending-decode-failed pending decode failed\n"));

    // The timer's polls stay silent for the same outcomes.
    platform.shownAlerts.clear();
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(401);
    platform.runMainQueue();
    EXPECT_TRUE(platform.shownAlerts.empty());
}

TEST_F(PollingTest, TheIdIsOnePathSegmentOfTheAcknowledgement) {
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(200, R"({"notifications":[
        {"id":"../../quotes/sync","messageTitle":"a","messageBody":"b"},
        {"id":"1?x","messageTitle":"a","messageBody":"b"},
        {"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","messageTitle":"a","messageBody":"b"},
        {"id":"提醒 1","messageTitle":"a","messageBody":"b"}]})");
    EXPECT_THAT(
        sentUrls(),
        ElementsAre(
            std::string("GET ") + pending,
            "POST "
            "http://203.0.113.10/api/desktop-notifications/..%2F..%2Fquotes%2Fsync/mark-notified",
            "POST http://203.0.113.10/api/desktop-notifications/1%3Fx/mark-notified",
            "POST "
            "http://203.0.113.10/api/desktop-notifications/6F9619FF-8B86-D011-B42D-00C04FC964FF/"
            "mark-notified",
            "POST "
            "http://203.0.113.10/api/desktop-notifications/%E6%8F%90%E9%86%92%201/mark-notified"));
}

TEST_F(PollingTest, PreparationAnnouncesAsksAndRestartsPollingWhateverTheAnswers) {
    app->prepareDesktopNotifications();
    EXPECT_THAT(sentUrls(),
                ElementsAre("POST http://203.0.113.10/api/desktop-notifications/initialize"));
    platform.completeRequestWithStatus(500);
    platform.answerAuthorization(true);
    EXPECT_TRUE(app->notificationsAllowed());
    EXPECT_EQ(platform.liveTimerCount(), 0); // polling starts on the main queue
    platform.runMainQueue();
    EXPECT_EQ(platform.liveTimerCount(), 1);
    EXPECT_EQ(platform.sentRequests.back().url, pending);
}

TEST_F(PollingTest, AWakeUpGivesUpThePollUnderWayAndPollsAtOnce) {
    app->startDesktopNotificationPolling();
    platform.advance(5);
    platform.systemEventsDelegate->systemDidResume();
    EXPECT_EQ(platform.count("http.dropConnections"), 1);
    EXPECT_THAT(sentUrls(),
                ElementsAre(std::string("GET ") + pending, std::string("GET ") + pending));
    EXPECT_EQ(platform.liveTimerCount(), 1);
    // The guard still holds.
    platform.systemEventsDelegate->systemDidResume();
    EXPECT_EQ(platform.sentRequests.size(), 3u);
    platform.systemEventsDelegate->networkDidChange();
    EXPECT_EQ(platform.sentRequests.size(), 3u);
}

TEST_F(PollingTest, PermissionRefusedForWantOfAServerIsAskedAgainWhenOneAppears) {
    app->prepareDesktopNotifications();
    platform.completeRequestWithStatus(204);
    platform.answerAuthorization(false);
    platform.runMainQueue();
    platform.notificationDelegate->notificationServerDidAppear();
    platform.answerAuthorization(true);
    EXPECT_TRUE(app->notificationsAllowed());
    // Granted: a server that replaces it changes nothing.
    platform.notificationDelegate->notificationServerDidAppear();
    EXPECT_TRUE(platform.pendingAuthorizations.empty());
}

TEST_F(PollingTest, FallbacksThatWaitForTheOpenDialogAreShownTogetherInTheNext) {
    int open = 0;
    int deepest = 0;
    platform.whileAlertOpen = [&](const AlertSpec&) {
        deepest = std::max(deepest, ++open);
        platform.runMainQueue(); // as the dialog's own loop would
        --open;
    };
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(200, threeRecords());
    platform.runMainQueue();
    EXPECT_EQ(deepest, 1);
    EXPECT_THAT(alertTexts(), ElementsAre("贵州茅台 突破 1800", "Quorvel：2 条新提醒"));
    EXPECT_EQ(platform.shownAlerts[1].informativeText, "腾讯控股\n跌破 300\n\n平安银行\n");
    EXPECT_EQ(platform.shownAlerts[1].buttons, std::vector<std::string>{"好"});
    EXPECT_EQ(platform.count("sound.beep"), 2);
    EXPECT_EQ(platform.count("http.send POST"), 3); // acknowledged as they were queued
}

TEST_F(PollingTest, ARecordStillBeingShownIsNotShownAgainByTheNextPoll) {
    const std::string one =
        R"({"notifications":[{"id":"n-1","messageTitle":"a","messageBody":"b"}]})";
    app->checkDesktopNotificationsNow();
    platform.answerAuthorization(true);
    platform.completeRequestWithStatus(200, one);
    ASSERT_EQ(platform.addedNotifications.size(), 1u);

    // The next poll comes while the notification centre has not answered.
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(200, one);
    EXPECT_EQ(platform.addedNotifications.size(), 1u);

    // Shown, but its acknowledgement is still on its way: still left alone.
    platform.answerNotification();
    app->pollDesktopNotifications();
    platform.completeNewestRequestWithStatus(200, one);
    EXPECT_EQ(platform.addedNotifications.size(), 1u);

    // The next poll asks while the acknowledgement is on its way, and the
    // acknowledgement finishes first: the list may predate it.
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(204);
    platform.completeRequestWithStatus(200, one);
    EXPECT_EQ(platform.addedNotifications.size(), 1u);

    // Once acknowledged, a record the service still lists is shown again.
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(200, one);
    EXPECT_EQ(platform.addedNotifications.size(), 2u);
}

TEST_F(PollingTest, AFailedAcknowledgementIsDeliveredAgainAndDuplicatesInOneListAreKept) {
    const std::string twice = R"({"notifications":[
        {"id":"n-1","messageTitle":"a","messageBody":"b"},
        {"id":"n-1","messageTitle":"a","messageBody":"b"}]})";
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(200, twice);
    // Without permission both take the fallback and are acknowledged at once.
    ASSERT_EQ(platform.pendingRequests.size(), 2u);
    platform.completeRequestWithStatus(500);
    platform.completeRequestWithStatus(500);
    app->pollDesktopNotifications();
    platform.completeRequestWithStatus(200, twice);
    platform.runMainQueue();
    EXPECT_EQ(platform.shownAlerts.size(), 4u);
}

// Runs the timer's polls for the given time, each answered as `answer` does.
class AlertFlowTest : public PollingTest {
protected:
    void SetUp() override {
        PollingTest::SetUp();
        app->startDesktopNotificationPolling();
    }
    void pollFor(double seconds, const std::function<void()>& answer) {
        for (double passed = 0; passed < seconds; passed += 8) {
            while (!platform.pendingRequests.empty()) {
                answer();
            }
            platform.runMainQueue();
            platform.advance(8);
        }
    }
    std::vector<std::string> notices() const {
        std::vector<std::string> bodies;
        for (const auto& alert : platform.shownAlerts) {
            bodies.push_back(alert.informativeText.value_or(""));
        }
        return bodies;
    }
    void emptyList() { platform.completeRequestWithStatus(200, R"({"notifications":[]})"); }
};

TEST_F(AlertFlowTest, TwoMinutesOfFailedPollsAreToldOnceAndTheirEndOnce) {
    // Any failure but 401 counts, and a poll that succeeds starts over.
    int kind = 0;
    const auto fail = [&] {
        switch (kind++ % 3) {
        case 0:
            return platform.failRequest("Socket I/O timed out");
        case 1:
            return platform.completeRequestWithStatus(503);
        default:
            return platform.completeRequestWithStatus(200, "<html>proxy</html>");
        }
    };
    pollFor(112, fail);
    pollFor(8, [this] { emptyList(); });
    pollFor(112, fail);
    EXPECT_TRUE(platform.shownAlerts.empty());
    EXPECT_EQ(platform.statusItemIcon, StatusIcon::Normal);
    pollFor(600, fail);
    EXPECT_THAT(notices(), ElementsAre("暂时无法连接云端提醒服务，恢复之前不会收到新的提醒。"));
    EXPECT_EQ(platform.shownAlerts[0].messageText, "Quorvel");
    EXPECT_EQ(platform.statusItemIcon, StatusIcon::Paused);
    EXPECT_EQ(platform.statusItemName, "Quorvel：暂时无法连接云端提醒服务");

    pollFor(40, [this] { emptyList(); });
    EXPECT_THAT(notices(), ElementsAre("暂时无法连接云端提醒服务，恢复之前不会收到新的提醒。",
                                       "云端提醒服务已恢复。"));
    EXPECT_EQ(platform.statusItemIcon, StatusIcon::Normal);
    EXPECT_EQ(platform.statusItemName, "Quorvel");
}

TEST_F(AlertFlowTest, TwoAnswersOf401InARowAskTheUserOnceToSignIn) {
    const auto unauthorized = [this] { platform.completeRequestWithStatus(401); };
    pollFor(8, unauthorized);
    pollFor(8, [this] { emptyList(); });
    pollFor(8, unauthorized);
    EXPECT_TRUE(platform.shownAlerts.empty());
    pollFor(300, unauthorized); // the service answers: no outage either
    EXPECT_THAT(notices(), ElementsAre("请先在Quorvel里登录账号，登录之前不会收到新的提醒。"));
    EXPECT_EQ(platform.statusItemIcon, StatusIcon::Paused);
    EXPECT_EQ(platform.statusItemName, "Quorvel：请先登录账号");
    pollFor(8, [this] { emptyList(); });
    EXPECT_EQ(platform.shownAlerts.size(), 1u);
    EXPECT_EQ(platform.statusItemName, "Quorvel");
}

TEST_F(AlertFlowTest, AlertsThatCameWhileTheWindowWasAwayAreCountedUntilItIsShown) {
    const auto records = [](int from, int count) {
        std::string list;
        for (int i = from; i < from + count; ++i) {
            list += std::string(list.empty() ? "" : ",") + R"({"id":"n-)" + std::to_string(i) +
                    R"(","messageTitle":"a","messageBody":"b"})";
        }
        return R"({"notifications":[)" + list + "]}";
    };
    app->checkDesktopNotificationsNow();
    platform.answerAuthorization(true);
    platform.completeRequestWithStatus(200, records(0, 1)); // the window is in front
    platform.answerNotification();
    platform.completeRequestWithStatus(204); // acknowledged
    EXPECT_EQ(platform.statusItemStatus, StatusItemStatus::Active);

    // Closed, then shown again by each path in turn.
    const std::vector<std::function<void()>> shows = {
        [this] { app->showMainWindow(); }, // the status menu
        [this] {
            platform.notificationDelegate->didReceiveNotificationResponse("n-1", [] {});
            platform.runMainQueue();
        },
        [this] { app->applicationDidBecomeActive(); }, // a second start
    };
    const auto timerPoll = [this](const std::string& list) {
        platform.advance(8);
        platform.completeRequestWithStatus(200, list);
    };
    for (const auto& show : shows) {
        platform.windowActive = false;
        timerPoll(records(1, 2));
        timerPoll(records(3, 3));
        while (!platform.pendingNotifications.empty()) {
            platform.answerNotification();
        }
        EXPECT_EQ(platform.statusItemStatus, StatusItemStatus::NeedsAttention);
        EXPECT_EQ(platform.statusItemName, "Quorvel：5 条新提醒");
        show();
        EXPECT_EQ(platform.statusItemStatus, StatusItemStatus::Active);
        EXPECT_EQ(platform.statusItemName, "Quorvel");
        while (!platform.pendingRequests.empty()) { // acknowledged
            platform.completeRequestWithStatus(204);
        }
    }
}

TEST_F(PollingTest, CompletionsDoNothingOnceTheApplicationIsGone) {
    app->checkDesktopNotificationsNow();
    std::weak_ptr<AppDelegate> weak = app;
    app.reset();
    EXPECT_TRUE(weak.expired());
    platform.answerAuthorization(true);
    platform.runMainQueue();
    EXPECT_TRUE(platform.sentRequests.empty());
}

} // namespace
} // namespace quorvel::testing
