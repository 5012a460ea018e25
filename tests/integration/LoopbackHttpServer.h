#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel::test {

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target;  // the request target as sent: path and query
    std::string version; // "HTTP/1.1"
    // In the order received, names spelled as sent.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body; // framed by Content-Length; empty without it

    // The target without its query.
    std::string path() const;
    // The value of the first field with this name (ASCII case-insensitive).
    std::optional<std::string> header(std::string_view name) const;
    bool hasHeader(std::string_view name) const { return header(name).has_value(); }
};

// What the server does with one request.
struct ScriptedResponse {
    enum class Kind {
        Answer,             // send the response below
        NeverAnswer,        // keep the connection open and silent until the server stops
        CloseWithoutAnswer, // close the connection without sending anything
    };
    Kind kind = Kind::Answer;
    int status = 200;
    std::string reason; // empty: the usual phrase for the status
    // Sent in this order. Content-Length is added unless listed here or the
    // status has no body (1xx, 204, 304).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Waited before answering or closing.
    std::chrono::milliseconds delay{0};
    // When set, these bytes are sent as they are instead of a formatted
    // response, and the connection is closed after them.
    std::optional<std::string> raw;
    // Close the connection after this answer (otherwise it is kept alive).
    bool closeAfter = false;

    static ScriptedResponse withStatus(int status, std::string body = {});
    static ScriptedResponse redirect(int status, std::string location);
    static ScriptedResponse neverAnswer();
    static ScriptedResponse closeWithoutAnswer();
    static ScriptedResponse rawBytes(std::string bytes);
};

// A scripted HTTP/1.1 server on 127.0.0.1 at a free port, for tests. It
// records every request and answers from its script; every connection is
// served by its own thread, so a request that is never answered does not hold
// up the others. Stopped (all connections closed) by the destructor.
class LoopbackHttpServer {
public:
    // Returns an answer, or nothing to fall through to the rest of the script.
    using Handler = std::function<std::optional<ScriptedResponse>(const RecordedRequest&)>;

    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT", no trailing slash.
    std::string baseUrl() const;
    // baseUrl() + pathAndQuery ("/api/x?y=1").
    std::string url(std::string_view pathAndQuery) const;

    // The answer to a request is the first of: the handler's answer, the next
    // queued one-shot answer, the route of the request's path, the default
    // answer (404 until set).
    void setHandler(Handler handler);
    void enqueue(ScriptedResponse response);
    void route(std::string path, ScriptedResponse response);
    void setDefaultResponse(ScriptedResponse response);
    // A header field that every formatted answer carries from now on.
    void addToEveryAnswer(std::string name, std::string value);

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    // Blocks the calling thread; use it only when the client does not need
    // that thread to make progress.
    bool waitForRequestCount(std::size_t count, std::chrono::milliseconds timeout) const;

    // A loopback port on which nothing listens: connecting is refused.
    static std::uint16_t closedPort();

private:
    void acceptLoop();
    void serveConnection(int fd);
    ScriptedResponse answerFor(const RecordedRequest& request);
    // Waits until the delay has passed or the server stops; true when stopping.
    bool sleepUnlessStopping(std::chrono::milliseconds delay);

    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1}; // written to once when stopping
    std::uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    Handler handler_;
    std::deque<ScriptedResponse> queue_;
    std::map<std::string, ScriptedResponse> routes_;
    ScriptedResponse defaultResponse_;
    std::vector<std::pair<std::string, std::string>> everyAnswer_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::thread> connectionThreads_;

    std::thread acceptThread_;
};

} // namespace quorvel::test
