#include "app/AppDelegate.h"
#include "integration/LoopbackHttpServer.h"
#include "integration/NetworkedFakePlatform.h"

namespace quorvel::testing {
namespace {

const std::string pendingPath = "/api/desktop-notifications/pending";

class ApiClientIntegrationTest : public CloudAppOnLoopback {
protected:
    struct GetOutcome {
        int calls = 0;
        std::optional<std::string> body;
        std::optional<int> status;
        std::vector<std::string> logAtCompletion;
    };

    GetOutcome get(const std::string& path) {
        GetOutcome outcome;
        app->getAPI(path, [&](std::optional<std::string> body, std::optional<int> status) {
            ++outcome.calls;
            outcome.body = std::move(body);
            outcome.status = status;
            outcome.logAtCompletion = logMessages(*app->logFilePath());
        });
        platform.runUntil([&] { return outcome.calls > 0; });
        platform.runFor(0.05); // a second completion would show up here
        return outcome;
    }

    std::pair<int, bool> post(const std::string& path) {
        int calls = 0;
        bool success = false;
        app->postAPI(path, [&](bool ok) {
            ++calls;
            success = ok;
        });
        platform.runUntil([&] { return calls > 0; });
        platform.runFor(0.05);
        return {calls, success};
    }

    std::string lastLogLine() const { return logMessages(*app->logFilePath()).back(); }
};

TEST_F(ApiClientIntegrationTest, EveryRequestCarriesBothFieldsAndNoBody) {
    server.setDefaultResponse(ScriptedResponse::withStatus(204));
    get(pendingPath);
    post("/api/desktop-notifications/initialize");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        std::vector<std::string> ours;
        for (const auto& [name, value] : request.headers) {
            if (name.starts_with("X-Quorvel")) {
                ours.push_back(name + ": " + value);
            }
        }
        EXPECT_THAT(ours, ElementsAre("X-Quorvel-Desktop: 1", "X-Quorvel-Device: desktop"));
        EXPECT_EQ(request.body, "");
        EXPECT_FALSE(request.hasHeader("Content-Type"));
    }
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, pendingPath);
    EXPECT_EQ(requests[1].method, "POST");
}

TEST_F(ApiClientIntegrationTest, GetSucceedsFor2xxAndHandsOnTheBodyUnchanged) {
    server.enqueue(ScriptedResponse::withStatus(200, ""));
    GetOutcome empty = get(pendingPath);
    EXPECT_EQ(empty.calls, 1);
    EXPECT_EQ(empty.body, std::string("")); // present, empty
    EXPECT_EQ(empty.status, 200);
    // The line is in the log before the completion runs.
    EXPECT_EQ(empty.logAtCompletion.back(),
              "request-done GET " + pendingPath + " status=200 bytes=0");

    server.enqueue(ScriptedResponse::withStatus(299, "{\"notifications\":[]}"));
    GetOutcome edge = get(pendingPath);
    EXPECT_EQ(edge.body, std::string("{\"notifications\":[]}"));
    EXPECT_EQ(edge.status, 299);
    EXPECT_EQ(lastLogLine(), "request-done GET " + pendingPath + " status=299 bytes=20");
}

TEST_F(ApiClientIntegrationTest, GetFailsOutside2xxWithItsStatus) {
    for (const int status : {300, 401, 500}) {
        server.enqueue(ScriptedResponse::withStatus(status, "{\"error\":\"x\"}"));
        GetOutcome outcome = get(pendingPath);
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_EQ(outcome.body, std::nullopt) << status;
        EXPECT_EQ(outcome.status, status);
        EXPECT_EQ(outcome.logAtCompletion.back(), "request-failed GET " + pendingPath +
                                                      " failed status=" + std::to_string(status) +
                                                      " error=none");
    }
}

TEST_F(ApiClientIntegrationTest, AServiceThatIsDownFailsWithoutStatus) {
    launch("http://127.0.0.1:" + std::to_string(LoopbackHttpServer::closedPort()));
    GetOutcome outcome = get(pendingPath);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.body, std::nullopt);
    EXPECT_EQ(outcome.status, std::nullopt);
    EXPECT_THAT(outcome.logAtCompletion.back(),
                StartsWith("request-failed GET " + pendingPath + " failed status=0 error="));
    EXPECT_NE(outcome.logAtCompletion.back(),
              "request-failed GET " + pendingPath + " failed status=0 error=none");

    EXPECT_EQ(post("/api/desktop-notifications/initialize"), std::make_pair(1, false));
    EXPECT_THAT(
        lastLogLine(),
        StartsWith(
            "request-failed POST /api/desktop-notifications/initialize failed status=0 error="));
}

TEST_F(ApiClientIntegrationTest, PostSucceedsOnlyFor2xxAndLogsEveryStatus) {
    server.enqueue(ScriptedResponse::withStatus(204));
    EXPECT_EQ(post("/api/desktop-notifications/n-1/mark-notified"), std::make_pair(1, true));
    EXPECT_EQ(lastLogLine(),
              "request-done POST /api/desktop-notifications/n-1/mark-notified status=204");
    server.enqueue(ScriptedResponse::withStatus(500, "boom"));
    EXPECT_EQ(post("/api/desktop-notifications/n-1/mark-notified"), std::make_pair(1, false));
    EXPECT_EQ(lastLogLine(),
              "request-done POST /api/desktop-notifications/n-1/mark-notified status=500");
}

TEST_F(ApiClientIntegrationTest, APathThatFormsNoUrlFailsWithoutARequest) {
    GetOutcome outcome = get("/api/desktop-notifications/a b");
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.status, std::nullopt);
    EXPECT_THAT(
        lastLogLine(),
        StartsWith("request-failed GET /api/desktop-notifications/a b failed status=0 error="));
    EXPECT_EQ(post("/api/x y"), std::make_pair(1, false));
    EXPECT_EQ(server.requestCount(), 0u);
}

} // namespace
} // namespace quorvel::testing
