#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

class ReadinessProbeTest : public AppFixture {
protected:
    void SetUp() override { launch(false); }
    // The start-up probe is pending; this drops it from the record.
    void failProbes(int count, int status = 503) {
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(platform.pendingRequests.size(), 1u);
            platform.completeRequestWithStatus(status);
            platform.advance(0.25);
        }
    }
};

TEST_F(ReadinessProbeTest, CloudBackendLoadsAtOnceWithoutAProbe) {
    FakePlatform cloudPlatform;
    auto cloud = std::make_shared<AppDelegate>(cloudPlatform, true, cloudURL);
    cloud->createWindow();
    cloudPlatform.calls.clear();
    cloud->loadAppWhenReady();
    EXPECT_THAT(cloudPlatform.calls,
                ElementsAre("webView.load http://203.0.113.10 cache=1 timeout=60"));
    EXPECT_TRUE(cloudPlatform.pendingRequests.empty());
}

TEST_F(ReadinessProbeTest, FirstAnswerOf200PreparesThenLoads) {
    ASSERT_EQ(platform.pendingRequests.size(), 1u);
    const HttpRequest probe = platform.pendingRequests.front().request;
    EXPECT_EQ(probe.method, "GET");
    EXPECT_EQ(probe.url, "http://127.0.0.1:45721");
    EXPECT_TRUE(probe.headers.empty());
    EXPECT_EQ(probe.cachePolicy, CachePolicy::ReloadIgnoringLocalCacheData);
    EXPECT_EQ(probe.timeoutSeconds, 60.0);

    platform.completeRequestWithStatus(200, "<html>");
    platform.runMainQueue();
    const int prepare = platform.indexOf(
        "http.send POST http://127.0.0.1:45721/api/desktop-notifications/initialize");
    const int load = platform.indexOf("webView.load http://127.0.0.1:45721 cache=0 timeout=60");
    ASSERT_GE(prepare, 0);
    ASSERT_GE(load, 0);
    EXPECT_LT(prepare, load);
    EXPECT_TRUE(platform.shownAlerts.empty());
}

TEST_F(ReadinessProbeTest, RetriesAQuarterSecondAfterEachFailedProbe) {
    platform.failRequest(); // connection refused
    platform.advance(0.24);
    EXPECT_TRUE(platform.pendingRequests.empty());
    platform.advance(0.01);
    ASSERT_EQ(platform.pendingRequests.size(), 1u);
    platform.completeRequestWithStatus(503);
    platform.advance(0.25);
    platform.completeRequest(HttpResult{}); // no response at all is not ready either
    platform.advance(0.25);
    platform.completeRequestWithStatus(404);
    platform.advance(0.25);
    platform.completeRequestWithStatus(200);
    platform.runMainQueue();
    EXPECT_EQ(platform.count("webView.load"), 1);
    EXPECT_EQ(platform.count("mainQueue.postAfter 0.25"), 4);
}

TEST_F(ReadinessProbeTest, GivesUpAfterThirtyOneProbes) {
    failProbes(30);
    ASSERT_EQ(platform.pendingRequests.size(), 1u);
    platform.completeRequestWithStatus(503);
    platform.runMainQueue();
    EXPECT_EQ(platform.sentRequests.size(), 31u);
    ASSERT_EQ(platform.shownAlerts.size(), 1u);
    EXPECT_EQ(platform.shownAlerts[0].messageText, "Quorvel无法启动");
    EXPECT_EQ(platform.shownAlerts[0].informativeText, "本地服务启动超时。");
    EXPECT_EQ(platform.count("application.terminate"), 1);
    platform.advance(10);
    EXPECT_EQ(platform.sentRequests.size(), 31u);
}

TEST_F(ReadinessProbeTest, AnAnswerOnTheLastProbeStillLoads) {
    failProbes(30);
    platform.completeRequestWithStatus(200);
    platform.runMainQueue();
    EXPECT_EQ(platform.count("webView.load"), 1);
    EXPECT_TRUE(platform.shownAlerts.empty());
}

// Another program took the port between the check and the child's bind:
// its page is not shown, the child (which ends with the status for a taken
// port) starts again on the next free port, and the probes follow it.
TEST_F(ReadinessProbeTest, AnotherProgramThatTookThePortSendsTheServiceToTheNextOne) {
    app->applicationDidBecomeActive(); // polls, but not a port nobody has vouched for
    failProbes(2);                     // the service started here answers 503 while it starts
    platform.takenPorts = {45721};
    platform.completeRequestFromStranger(200, "<html>someone else's page");
    platform.exitNewestProcess(ProcessExit{3, std::nullopt});
    platform.advance(1);
    ASSERT_EQ(platform.launchedProcesses.size(), 2u);
    EXPECT_EQ(platform.launchedProcesses[1].environment.at("PORT"), "45722");
    EXPECT_EQ(platform.count("webView.load"), 0);
    EXPECT_TRUE(platform.shownAlerts.empty());
    ASSERT_FALSE(platform.pendingRequests.empty());
    for (const auto& pending : platform.pendingRequests) {
        EXPECT_EQ(pending.request.url, "http://127.0.0.1:45722");
        EXPECT_TRUE(pending.request.headers.empty());
    }
    platform.completeRequestWithStatus(200);
    platform.runMainQueue();
    EXPECT_EQ(platform.count("webView.load http://127.0.0.1:45722 cache=0"), 1);
    EXPECT_EQ(platform.shownAlerts.size(), 0u);
    // Only the probe went to the other program.
    int toStranger = 0;
    for (const auto& sent : platform.sentRequests) {
        toStranger += sent.url.starts_with("http://127.0.0.1:45721") ? 1 : 0;
    }
    EXPECT_EQ(toStranger, 3);
}

TEST_F(ReadinessProbeTest, AnotherProgramOnEveryFreePortEndsStartUp) {
    failProbes(1);
    for (int port = 45721; port <= 45741; ++port) {
        platform.takenPorts.insert(port);
    }
    platform.completeRequestFromStranger(200, "<html>someone else's page");
    platform.exitNewestProcess(ProcessExit{3, std::nullopt});
    platform.runMainQueue();
    ASSERT_EQ(platform.shownAlerts.size(), 1u);
    EXPECT_EQ(platform.shownAlerts[0].informativeText,
              "端口 45721 已被其他程序占用，无法启动本地服务。");
    platform.advance(10);
    EXPECT_EQ(platform.launchedProcesses.size(), 1u);
    EXPECT_EQ(platform.count("webView.load"), 0);
}

TEST_F(ReadinessProbeTest, APendingProbeDoesNotKeepTheApplicationAlive) {
    std::weak_ptr<AppDelegate> weak = app;
    app.reset();
    EXPECT_TRUE(weak.expired());
    platform.completeRequestWithStatus(200);
    platform.advance(1);
    EXPECT_EQ(platform.count("webView.load"), 0);
}

} // namespace
} // namespace quorvel::testing
