#pragma once

#include "platform/Interface.h"
#include "platform/WebView.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    // Sent in this order.
    std::vector<std::pair<std::string, std::string>> headers;
    CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
    double timeoutSeconds = 60.0;
};

// How a request ended. A request that got an HTTP response has a status and a
// body (empty when the server sent none); one that failed has an error text.
struct HttpResult {
    std::optional<std::string> body;
    std::optional<int> status;
    std::optional<std::string> error;
    // The response's header fields, names as the server sent them.
    std::vector<std::pair<std::string, std::string>> headers;
};

// The process-wide HTTP client: redirects followed, no cache of its own.
struct HttpClient : Interface {
    // Called on the main loop. Returns at once; the completion runs exactly
    // once, later, on the main loop, unless the client is destroyed first
    // (then it is released without running).
    virtual void send(const HttpRequest& request, std::function<void(HttpResult)> completion) = 0;
    // For when the connections may have died unnoticed (the machine slept):
    // every request under way fails with an error, its completion running
    // before this returns, and no connection open now is used again.
    virtual void dropConnections() = 0;
};

} // namespace quorvel
