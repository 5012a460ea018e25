#include "app/AppDelegate.h"
#include "integration/LoopbackHttpServer.h"
#include "integration/NetworkedFakePlatform.h"

namespace quorvel::testing {
namespace {

class ReadinessProbeIntegrationTest : public ::testing::Test {
protected:
    NetworkedFakePlatform platform;
    LoopbackHttpServer server;
    std::shared_ptr<AppDelegate> app;

    void launchLocal(std::uint16_t port) {
        app = std::make_shared<AppDelegate>(platform, false, "http://203.0.113.10",
                                            std::to_string(port));
        platform.fake.application().setDelegate(app.get());
        app->applicationDidFinishLaunching();
        // As the service started with it would; nothing is sent before the
        // main loop runs.
        server.addToEveryAnswer("X-Quorvel-Service-Proof", app->serviceProof());
    }
    bool loaded() const { return platform.fake.count("webView.load") > 0; }
    bool gaveUp() const { return platform.fake.count("application.terminate") > 0; }
    std::size_t probes() const {
        std::size_t count = 0;
        for (const auto& request : server.requests()) {
            count += request.method == "GET" && request.target == "/" ? 1 : 0;
        }
        return count;
    }
};

TEST_F(ReadinessProbeIntegrationTest, TheFirst200PreparesNotificationsThenLoadsThePage) {
    server.setDefaultResponse(ScriptedResponse::withStatus(200, "<html></html>"));
    launchLocal(server.port());
    ASSERT_TRUE(platform.runUntil([this] { return loaded(); }));
    EXPECT_EQ(platform.fake.calls.at(platform.fake.indexOf("webView.load")),
              "webView.load " + server.baseUrl() + " cache=0 timeout=60");
    platform.runUntil([this] { return server.requestCount() >= 2; }, 5);
    const auto requests = server.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/");
    EXPECT_FALSE(
        requests[0].hasHeader("X-Quorvel-Desktop")); // the probe sends no fields of its own
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].target, "/api/desktop-notifications/initialize");
    // The service opens to its token, which the probe, since it may reach
    // another program, does not carry.
    EXPECT_FALSE(requests[0].hasHeader("X-Quorvel-Service-Token"));
    EXPECT_EQ(requests[1].header("X-Quorvel-Service-Token"), app->serviceToken());
    EXPECT_EQ(probes(), 1u);
    EXPECT_TRUE(platform.fake.shownAlerts.empty());
}

TEST_F(ReadinessProbeIntegrationTest, RetriesRefusedConnectionsAndErrorStatusesUntilReady) {
    int seen = 0;
    server.setHandler([&seen](const auto& request) -> std::optional<ScriptedResponse> {
        if (request.target != "/") {
            return ScriptedResponse::withStatus(204);
        }
        ++seen;
        if (seen == 1) {
            return ScriptedResponse::closeWithoutAnswer();
        }
        return ScriptedResponse::withStatus(seen < 4 ? 503 : 200);
    });
    launchLocal(server.port());
    ASSERT_TRUE(platform.runUntil([this] { return loaded(); }, 15));
    EXPECT_EQ(seen, 4);
    EXPECT_TRUE(platform.fake.shownAlerts.empty());

    // A port where nothing listens: connections are refused, and probing goes on.
    NetworkedFakePlatform other;
    auto refused = std::make_shared<AppDelegate>(other, false, "http://203.0.113.10",
                                                 std::to_string(LoopbackHttpServer::closedPort()));
    refused->applicationDidFinishLaunching();
    other.runFor(1.2);
    EXPECT_EQ(other.fake.count("webView.load"), 0);
    EXPECT_TRUE(other.fake.shownAlerts.empty());
}

TEST_F(ReadinessProbeIntegrationTest, GivesUpAfterExactly31Probes) {
    server.setDefaultResponse(ScriptedResponse::withStatus(503));
    launchLocal(server.port());
    ASSERT_TRUE(platform.runUntil([this] { return gaveUp(); }, 20));
    EXPECT_EQ(probes(), 31u);
    ASSERT_EQ(platform.fake.shownAlerts.size(), 1u);
    EXPECT_EQ(platform.fake.shownAlerts[0].informativeText, "本地服务启动超时。");
    EXPECT_FALSE(loaded());
}

TEST_F(ReadinessProbeIntegrationTest, A200OnTheLastProbeStillLoads) {
    server.setHandler([this](const auto& request) -> std::optional<ScriptedResponse> {
        if (request.target != "/") {
            return ScriptedResponse::withStatus(204);
        }
        return ScriptedResponse::withStatus(probes() < 31 ? 503 : 200);
    });
    launchLocal(server.port());
    ASSERT_TRUE(platform.runUntil([this] { return loaded() || gaveUp(); }, 20));
    EXPECT_TRUE(loaded());
    EXPECT_EQ(probes(), 31u);
    EXPECT_TRUE(platform.fake.shownAlerts.empty());
}

TEST_F(ReadinessProbeIntegrationTest, ARedirectToA200CountsAsReady) {
    server.route("/", ScriptedResponse::redirect(302, "/ready"));
    server.route("/ready", ScriptedResponse::withStatus(200, "ok"));
    server.setDefaultResponse(ScriptedResponse::withStatus(204));
    launchLocal(server.port());
    ASSERT_TRUE(platform.runUntil([this] { return loaded(); }));
    EXPECT_TRUE(platform.fake.shownAlerts.empty());
}

TEST_F(ReadinessProbeIntegrationTest, TheCloudBackendSendsNoProbe) {
    server.setDefaultResponse(ScriptedResponse::withStatus(200));
    app = std::make_shared<AppDelegate>(platform, true, server.baseUrl());
    app->applicationDidFinishLaunching();
    platform.runFor(0.5);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(platform.fake.count("webView.load " + server.baseUrl() + " cache=1 timeout=60"), 1);
}

} // namespace
} // namespace quorvel::testing
