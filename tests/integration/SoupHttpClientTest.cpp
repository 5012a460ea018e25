#include "platform/gtk/SoupHttpClient.h"

#include "integration/LoopbackHttpServer.h"
#include "integration/MainLoop.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using test::LoopbackHttpServer;
using test::ScriptedResponse;
using testing::HasSubstr;

class SoupHttpClientTest : public testing::Test {
protected:
    // Sends the request, checks that it completes later and exactly once, and
    // returns its result.
    HttpResult exchange(const HttpRequest& request, HttpClient* client = nullptr) {
        int completions = 0;
        HttpResult result;
        (client != nullptr ? *client : *client_).send(request, [&](HttpResult r) {
            ++completions;
            result = std::move(r);
        });
        EXPECT_EQ(completions, 0) << "completed inside send()";
        EXPECT_TRUE(gtk::iterateMainLoopUntil([&] { return completions > 0; }, 15.0));
        gtk::iterateMainLoopUntil([] { return false; }, 0.05);
        EXPECT_EQ(completions, 1);
        return result;
    }

    HttpRequest get(const std::string& path) {
        HttpRequest request;
        request.url = server_.url(path);
        return request;
    }

    LoopbackHttpServer server_;
    std::unique_ptr<HttpClient> client_ = gtk::makeSoupHttpClient();
};

TEST_F(SoupHttpClientTest, SendsHeaderFieldsInTheGivenOrderAndNoBodyOfItsOwn) {
    auto answer = ScriptedResponse::withStatus(200, "hello");
    answer.headers = {{"Content-Type", "text/plain"},
                      {"X-Quorvel-Build", "7"},
                      {"X-Twice", "a"},
                      {"X-Twice", "b"}};
    server_.setDefaultResponse(answer);
    HttpRequest request = get("/api/desktop-notifications/pending?x=1");
    request.headers = {
        {"X-Quorvel-Desktop", "1"}, {"X-Quorvel-Device", "desktop"}, {"X-Last", "z"}};

    const HttpResult result = exchange(request);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "hello");
    EXPECT_FALSE(result.error);
    EXPECT_THAT(
        result.headers,
        testing::IsSupersetOf({std::pair<std::string, std::string>{"Content-Type", "text/plain"},
                               {"X-Quorvel-Build", "7"},
                               {"X-Twice", "a"},
                               {"X-Twice", "b"},
                               {"Content-Length", "5"}}));

    ASSERT_EQ(server_.requestCount(), 1u);
    const auto received = server_.requests().front();
    EXPECT_EQ(received.method, "GET");
    EXPECT_EQ(received.target, "/api/desktop-notifications/pending?x=1");
    std::vector<std::string> ours;
    for (const auto& [name, value] : received.headers) {
        if (name.rfind("X-", 0) == 0) {
            ours.push_back(name + ": " + value);
        }
    }
    EXPECT_THAT(ours, testing::ElementsAre("X-Quorvel-Desktop: 1", "X-Quorvel-Device: desktop",
                                           "X-Last: z"));
    EXPECT_FALSE(received.hasHeader("Content-Type"));
    EXPECT_FALSE(received.hasHeader("Content-Length"));
    EXPECT_TRUE(received.body.empty());
}

TEST_F(SoupHttpClientTest, EmptyPostSaysContentLengthZeroAndHasNoContentType) {
    server_.setDefaultResponse(ScriptedResponse::withStatus(204));
    HttpRequest request = get("/api/desktop-notifications/initialize");
    request.method = "POST";
    request.headers = {{"X-Quorvel-Desktop", "1"}, {"X-Quorvel-Device", "desktop"}};

    const HttpResult result = exchange(request);
    EXPECT_EQ(result.status, 204);
    EXPECT_EQ(result.body, std::optional<std::string>(""));
    EXPECT_FALSE(result.error);

    ASSERT_EQ(server_.requestCount(), 1u);
    const auto received = server_.requests().front();
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(received.header("Content-Length"), "0");
    EXPECT_FALSE(received.hasHeader("Content-Type"));
    EXPECT_FALSE(received.hasHeader("Transfer-Encoding"));
    EXPECT_TRUE(received.body.empty());
}

TEST_F(SoupHttpClientTest, EveryFinalStatusComesWithItsBodyAsSent) {
    const std::string binary("a\0b\xff\xfe"
                             "中文",
                             11);
    const std::vector<std::pair<int, std::string>> cases = {{200, ""},
                                                            {200, binary},
                                                            {299, "edge"},
                                                            {300, ""},
                                                            {401, R"({"error":"unauthorized"})"},
                                                            {404, "missing"},
                                                            {500, ""},
                                                            {503, "later"}};
    for (const auto& [status, body] : cases) {
        SCOPED_TRACE(status);
        server_.enqueue(ScriptedResponse::withStatus(status, body));
        const HttpResult result = exchange(get("/status"));
        EXPECT_EQ(result.status, status);
        // Present even when empty: "no body" is kept for failed exchanges.
        EXPECT_EQ(result.body, std::optional<std::string>(body));
        EXPECT_FALSE(result.error);
    }
}

TEST_F(SoupHttpClientTest, InformationalResponseIsNotTakenForTheAnswer) {
    // A 1xx head announces that the answer follows; only the final status is
    // reported, so a 1xx can never reach a caller over the wire.
    server_.enqueue(ScriptedResponse::rawBytes("HTTP/1.1 199 Interim\r\n\r\n"
                                               "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    const HttpResult result = exchange(get("/"));
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "ok");
}

TEST_F(SoupHttpClientTest, RedirectsAreFollowedToTheFinalAnswer) {
    server_.route("/", ScriptedResponse::redirect(302, "/moved"));
    server_.route("/moved", ScriptedResponse::redirect(307, server_.url("/final")));
    server_.route("/final", ScriptedResponse::withStatus(200, "ready"));

    const HttpResult result = exchange(get("/"));
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "ready");
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].target, "/final");
}

TEST_F(SoupHttpClientTest, TransportFailuresHaveAnErrorAndNoStatusOrBody) {
    HttpRequest refused;
    refused.url = "http://127.0.0.1:" + std::to_string(LoopbackHttpServer::closedPort()) + "/";
    const HttpResult notListening = exchange(refused);
    EXPECT_FALSE(notListening.status);
    EXPECT_FALSE(notListening.body);
    ASSERT_TRUE(notListening.error);
    EXPECT_FALSE(notListening.error->empty());

    server_.setDefaultResponse(ScriptedResponse::closeWithoutAnswer());
    const HttpResult dropped = exchange(get("/"));
    EXPECT_FALSE(dropped.status);
    EXPECT_FALSE(dropped.body);
    EXPECT_TRUE(dropped.error);
}

TEST_F(SoupHttpClientTest, AServerThatNeverAnswersEndsInATimeOut) {
    server_.setDefaultResponse(ScriptedResponse::neverAnswer());

    // The session's I/O time-out.
    const auto shortClient = gtk::makeSoupHttpClient(1);
    auto started = std::chrono::steady_clock::now();
    HttpRequest request = get("/");
    request.timeoutSeconds = 1;
    const HttpResult sessionTimeout = exchange(request, shortClient.get());
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(sessionTimeout.status);
    EXPECT_FALSE(sessionTimeout.body);
    EXPECT_TRUE(sessionTimeout.error);
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::seconds(10));

    // A request's own time-out, shorter than the session's.
    started = std::chrono::steady_clock::now();
    request.timeoutSeconds = 0.3;
    const HttpResult ownTimeout = exchange(request);
    elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(ownTimeout.status);
    EXPECT_EQ(ownTimeout.error, "The request timed out.");
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(SoupHttpClientTest, RequestsThatCannotBeSentFailThroughTheMainLoop) {
    HttpRequest request;
    for (const std::string url :
         {"", "not a url", "http://[::1", "ftp://127.0.0.1/x", "http:///x"}) {
        SCOPED_TRACE(url);
        request.url = url;
        const HttpResult result = exchange(request);
        EXPECT_FALSE(result.status);
        EXPECT_FALSE(result.body);
        ASSERT_TRUE(result.error);
        EXPECT_THAT(*result.error, HasSubstr("URL"));
    }

    // A field value cannot smuggle in a field of its own.
    request = get("/");
    request.headers = {{"X-Quorvel-Desktop", "1\r\nX-Injected: yes"}};
    EXPECT_TRUE(exchange(request).error);
    request.headers = {{"Bad Name", "1"}};
    EXPECT_TRUE(exchange(request).error);
    request = get("/");
    request.method = "GET / HTTP/1.1\r\n";
    EXPECT_TRUE(exchange(request).error);
    EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(SoupHttpClientTest, ConcurrentRequestsCompleteIndependently) {
    server_.route("/slow", [] {
        auto response = ScriptedResponse::withStatus(200, "slow");
        response.delay = std::chrono::milliseconds(300);
        return response;
    }());
    server_.route("/fast", ScriptedResponse::withStatus(200, "fast"));
    std::vector<std::string> order;
    client_->send(get("/slow"), [&](HttpResult r) { order.push_back(r.body.value_or("?")); });
    client_->send(get("/fast"), [&](HttpResult r) { order.push_back(r.body.value_or("?")); });
    EXPECT_TRUE(gtk::iterateMainLoopUntil([&] { return order.size() == 2; }, 10.0));
    EXPECT_THAT(order, testing::ElementsAre("fast", "slow"));
}

// The client's connections to the server that are open now (from
// /proc/net/tcp: established, to 127.0.0.1 at this port).
int openConnectionsTo(std::uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char remote[32];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", static_cast<unsigned>(port));
    int count = 0;
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, peer, state;
        fields >> slot >> local >> peer >> state;
        count += peer == remote && state == "01" ? 1 : 0;
    }
    return count;
}

TEST_F(SoupHttpClientTest, DroppingConnectionsFailsRequestsAtOnceAndClosesIdleOnes) {
    server_.route("/never", ScriptedResponse::neverAnswer());
    server_.route("/ok", ScriptedResponse::withStatus(200, "ok"));
    // A request waiting for an answer that never comes, a connection kept
    // alive after its answer, and a request not yet started.
    std::vector<HttpResult> results;
    const auto record = [&](HttpResult r) { results.push_back(std::move(r)); };
    client_->send(get("/never"), record);
    ASSERT_TRUE(gtk::iterateMainLoopUntil([&] { return server_.requestCount() == 1; }, 10.0));
    ASSERT_EQ(exchange(get("/ok")).status, 200);
    ASSERT_EQ(openConnectionsTo(server_.port()), 2);
    client_->send(get("/never"), record);

    client_->dropConnections();
    ASSERT_EQ(results.size(), 2u) << "not failed inside dropConnections()";
    for (const HttpResult& result : results) {
        EXPECT_FALSE(result.status);
        EXPECT_FALSE(result.body);
        EXPECT_TRUE(result.error);
    }
    // Both connections close: the idle one at once, the cancelled one as
    // libsoup lets go of its request.
    gtk::iterateMainLoopUntil([] { return false; }, 0.2);
    EXPECT_EQ(openConnectionsTo(server_.port()), 0);
    EXPECT_EQ(results.size(), 2u);
    EXPECT_EQ(server_.requestCount(), 2u);

    // The next request gets a connection of its own.
    const HttpResult next = exchange(get("/ok"));
    EXPECT_EQ(next.status, 200);
    EXPECT_EQ(openConnectionsTo(server_.port()), 1);
}

TEST_F(SoupHttpClientTest, DestroyingTheClientDropsRequestsInFlight) {
    server_.route("/never", ScriptedResponse::neverAnswer());
    int completions = 0;
    auto sentinel = std::make_shared<int>(0);
    std::weak_ptr<int> watch = sentinel;
    // One request on the wire, one not yet started.
    client_->send(get("/never"), [&, sentinel](HttpResult) { ++completions; });
    ASSERT_TRUE(gtk::iterateMainLoopUntil([&] { return server_.requestCount() == 1; }, 10.0));
    client_->send(get("/never"), [&, sentinel](HttpResult) { ++completions; });
    sentinel.reset();

    client_.reset();
    // The completions, and what they hold, are released at once.
    EXPECT_TRUE(watch.expired());
    gtk::iterateMainLoopUntil([] { return false; }, 0.3);
    EXPECT_EQ(completions, 0);
}

} // namespace
} // namespace quorvel
