#include "app/AppDelegate.h"
#include "integration/LoopbackHttpServer.h"
#include "integration/NetworkedFakePlatform.h"

namespace quorvel::testing {
namespace {

class QuoteSyncIntegrationTest : public CloudAppOnLoopback {
protected:
    void launch(const std::string& baseURL) override {
        CloudAppOnLoopback::launch(baseURL);
        platform.fake.calls.clear();
        platform.fake.shownAlerts.clear();
    }

    // What the user saw after one sync: reload and alert calls in order.
    std::vector<std::string> sync() {
        platform.fake.calls.clear();
        const std::size_t before = platform.fake.shownAlerts.size();
        app->syncQuotes();
        platform.runUntil([&] { return platform.fake.shownAlerts.size() > before; });
        std::vector<std::string> seen;
        for (const std::string& call : platform.fake.calls) {
            if (call == "webView.reload" || call.starts_with("alert ")) {
                seen.push_back(call);
            }
        }
        return seen;
    }
};

TEST_F(QuoteSyncIntegrationTest, SendsAnEmptyPostMarkedAsDesktopOnly) {
    server.setDefaultResponse(ScriptedResponse::withStatus(200, "{}"));
    sync();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/api/quotes/sync");
    EXPECT_EQ(requests[0].header("X-Quorvel-Desktop"), "1");
    EXPECT_FALSE(requests[0].hasHeader("X-Quorvel-Device"));
    EXPECT_FALSE(requests[0].hasHeader("Content-Type"));
    EXPECT_EQ(requests[0].body, "");
    // No log line for a sync.
    EXPECT_FALSE(std::filesystem::exists(*app->logFilePath()) &&
                 readFile(*app->logFilePath()).find("quotes") != std::string::npos);
}

TEST_F(QuoteSyncIntegrationTest, SuccessReloadsThenConfirms) {
    for (const int status : {200, 204, 299}) {
        server.enqueue(ScriptedResponse::withStatus(status));
        EXPECT_THAT(sync(), ElementsAre("webView.reload", "alert 行情已同步。")) << status;
    }
}

TEST_F(QuoteSyncIntegrationTest, OtherStatusesFailWithoutReload) {
    for (const int status : {300, 401, 502}) {
        server.enqueue(ScriptedResponse::withStatus(status, "{\"error\":\"x\"}"));
        EXPECT_THAT(sync(), ElementsAre("alert 同步行情失败。")) << status;
    }
}

TEST_F(QuoteSyncIntegrationTest, AServiceThatIsDownGivesTheErrorText) {
    launch("http://127.0.0.1:" + std::to_string(LoopbackHttpServer::closedPort()));
    const auto seen = sync();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_THAT(seen[0], StartsWith("alert 同步行情失败："));
    EXPECT_GT(seen[0].size(), std::string("alert 同步行情失败：").size());
}

TEST_F(QuoteSyncIntegrationTest, OverlappingSyncsEachEndInTheirOwnAlert) {
    server.enqueue([] {
        auto slow = ScriptedResponse::withStatus(200);
        slow.delay = std::chrono::milliseconds(300);
        return slow;
    }());
    server.enqueue(ScriptedResponse::withStatus(500));
    app->syncQuotes();
    app->syncQuotes();
    ASSERT_TRUE(platform.runUntil([&] { return platform.fake.shownAlerts.size() == 2; }));
    std::vector<std::string> texts;
    for (const auto& alert : platform.fake.shownAlerts) {
        texts.push_back(alert.messageText);
    }
    EXPECT_THAT(texts, ::testing::UnorderedElementsAre("行情已同步。", "同步行情失败。"));
}

} // namespace
} // namespace quorvel::testing
