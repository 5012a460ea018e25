#include "unit/AppFixture.h"

namespace quorvel::testing {
namespace {

// Statuses a real server cannot send as a final answer (1xx), and the
// success rule's edges, on the fake platform.
class ApiClientTest : public LaunchedAppFixture {
protected:
    std::string lastLogLine() const {
        const std::vector<std::string> messages = logMessages(*app->logFilePath());
        return messages.empty() ? "" : messages.back();
    }
};

TEST_F(ApiClientTest, AStatusBelow200IsAFailureForGetPostAndSync) {
    std::optional<int> status;
    std::optional<std::string> body = "unset";
    app->getAPI("/api/desktop-notifications/pending", [&](auto b, auto s) {
        body = std::move(b);
        status = s;
    });
    platform.completeRequestWithStatus(199, "{}");
    EXPECT_EQ(body, std::nullopt);
    EXPECT_EQ(status, 199);
    EXPECT_EQ(lastLogLine(),
              "request-failed GET /api/desktop-notifications/pending failed status=199 error=none");

    bool success = true;
    app->postAPI("/api/desktop-notifications/n-1/mark-notified", [&](bool ok) { success = ok; });
    platform.completeRequestWithStatus(199);
    EXPECT_FALSE(success);
    EXPECT_EQ(lastLogLine(),
              "request-done POST /api/desktop-notifications/n-1/mark-notified status=199");

    platform.calls.clear();
    app->syncQuotes();
    platform.completeRequestWithStatus(199);
    platform.runMainQueue();
    EXPECT_EQ(platform.count("webView.reload"), 0);
    EXPECT_EQ(platform.shownAlerts.back().messageText, "同步行情失败。");
}

TEST_F(ApiClientTest, AnErrorWithA2xxAnswerStillCountsAsSuccess) {
    bool success = false;
    app->postAPI("/api/desktop-notifications/initialize", [&](bool ok) { success = ok; });
    platform.completeRequest(HttpResult{std::nullopt, 204, "connection reset", {}});
    EXPECT_TRUE(success);
    EXPECT_EQ(lastLogLine(), "request-done POST /api/desktop-notifications/initialize status=204");
}

// Only answers from the service the shell started count, with the local one.
TEST_F(ApiClientTest, AnAnswerWithoutTheServiceTokenIsAFailureForGetPostAndSync) {
    FakePlatform local;
    auto localApp = std::make_shared<AppDelegate>(local, false);
    localApp->applicationDidFinishLaunching();
    local.completeRequestWithStatus(200);
    local.runMainQueue();
    local.pendingRequests.clear();

    std::optional<std::string> body = "unset";
    localApp->getAPI("/api/desktop-notifications/pending",
                     [&](auto answer, auto) { body = std::move(answer); });
    local.completeRequestFromStranger(200, R"({"notifications":[]})");
    EXPECT_EQ(body, std::nullopt);
    bool success = true;
    localApp->postAPI("/api/desktop-notifications/n-1/mark-notified",
                      [&](bool ok) { success = ok; });
    local.completeRequestFromStranger(204);
    EXPECT_FALSE(success);
    localApp->syncQuotes();
    local.completeRequestFromStranger(200);
    local.runMainQueue();
    EXPECT_EQ(local.count("webView.reload"), 0);
    EXPECT_EQ(local.shownAlerts.back().messageText, "同步行情失败。");
    // Nor may its page be shown.
    EXPECT_FALSE(localApp->webViewShouldAcceptResponse({{"Content-Type", "text/html"}}));
    EXPECT_TRUE(localApp->webViewShouldAcceptResponse(
        {{"x-quorvel-service-proof", localApp->serviceProof()}}));
    // The token opens the service; it proves nothing about an answer.
    EXPECT_FALSE(localApp->webViewShouldAcceptResponse(
        {{"X-Quorvel-Service-Token", localApp->serviceToken()}}));

    // Answers that carry it count as before.
    localApp->getAPI("/api/desktop-notifications/pending",
                     [&](auto answer, auto) { body = std::move(answer); });
    local.completeRequestWithStatus(200, R"({"notifications":[]})");
    EXPECT_EQ(body, R"({"notifications":[]})");
}

// Every request to the local service but the probes of its page carries the
// token; the page's own requests carry it as a cookie; the cloud gets none.
TEST_F(ApiClientTest, TheLocalServiceGetsItsTokenOnEveryRequestButTheProbes) {
    FakePlatform local;
    auto localApp = std::make_shared<AppDelegate>(local, false);
    localApp->applicationDidFinishLaunching();
    const std::pair<std::string, std::string> token{"X-Quorvel-Service-Token",
                                                    localApp->serviceToken()};
    EXPECT_TRUE(local.sentRequests.at(0).headers.empty());
    EXPECT_TRUE(local.storedCookies.empty());
    local.completeRequestWithStatus(200);
    local.runMainQueue();
    EXPECT_THAT(local.storedCookies,
                ElementsAre("http://127.0.0.1:45721 quorvel_service_token_45721=" +
                            localApp->serviceToken()));
    EXPECT_EQ(local.count("webView.load"), 1);
    localApp->getAPI("/api/desktop-notifications/pending", [](auto, auto) {});
    localApp->syncQuotes();
    const auto& sent = local.sentRequests;
    ASSERT_EQ(sent.size(), 4u);
    for (std::size_t i = 1; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].headers.back(), token) << sent[i].url;
        EXPECT_EQ(sent[i].headers.front().first, "X-Quorvel-Desktop") << sent[i].url;
    }

    app->getAPI("/api/desktop-notifications/pending", [](auto, auto) {});
    app->syncQuotes();
    for (const auto& request : platform.sentRequests) {
        for (const auto& field : request.headers) {
            EXPECT_NE(field.first, "X-Quorvel-Service-Token");
        }
    }
    EXPECT_TRUE(platform.storedCookies.empty());
}

} // namespace
} // namespace quorvel::testing
