#include "platform/gtk/SoupHttpClient.h"

#include "platform/gtk/GlibSource.h"
#include "platform/gtk/OnceCompletion.h"

#include <algorithm>
#include <cmath>
#include <libsoup/soup.h>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::gtk {

namespace {

// RFC 9110 token: method names and header field names.
bool isToken(std::string_view text) {
    static constexpr std::string_view extra = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               extra.find(c) != std::string_view::npos;
    });
}

// A field value must not be able to end the field or the head early.
bool isSafeFieldValue(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool methodSendsBody(std::string_view method) {
    return method == "POST" || method == "PUT" || method == "PATCH";
}

struct Exchange;

// The exchanges a client has in flight, shared with them, so that a client
// that goes can abandon them. Like the session, main loop only.
struct Registry {
    bool closed = false;
    std::set<Exchange*> live;
};

// One request, from send() until its completion has run. Owned by whichever
// callback is pending for it (its start on the main loop, then libsoup's);
// deleted right before the completion runs.
struct Exchange {
    std::shared_ptr<Registry> registry;
    SoupSession* session = nullptr; // a reference of its own
    double sessionTimeoutSeconds = 0;
    HttpRequest request;
    OnceCompletion<HttpResult> completion;
    SoupMessage* message = nullptr;
    GCancellable* cancellable = nullptr;
    GlibSource start;
    GlibSource deadline;
    bool timedOut = false;

    Exchange() = default;
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    ~Exchange() {
        g_clear_object(&cancellable);
        g_clear_object(&message);
        g_clear_object(&session);
    }

    // An abandoned exchange has no completion left to run.
    bool abandoned() const { return !completion.pending(); }

    // Ends the exchange: frees it, then runs the completion, if it still has one.
    void finish(HttpResult result) {
        registry->live.erase(this);
        OnceCompletion<HttpResult> done = std::move(completion);
        delete this;
        done.complete(std::move(result));
    }

    void fail(std::string error) {
        HttpResult result;
        result.error = std::move(error);
        finish(std::move(result));
    }
};

void onExchangeFinished(GObject* source, GAsyncResult* asyncResult, gpointer data) {
    auto* exchange = static_cast<Exchange*>(data);
    GError* error = nullptr;
    GBytes* bytes = soup_session_send_and_read_finish(SOUP_SESSION(source), asyncResult, &error);

    HttpResult result;
    // libsoup reports 0 until a response head has arrived.
    if (const guint status = soup_message_get_status(exchange->message); status != 0) {
        result.status = static_cast<int>(status);
        soup_message_headers_foreach(
            soup_message_get_response_headers(exchange->message),
            [](const char* name, const char* value, gpointer fields) {
                static_cast<std::vector<std::pair<std::string, std::string>>*>(fields)
                    ->emplace_back(name, value);
            },
            &result.headers);
    }
    if (bytes != nullptr) {
        gsize size = 0;
        const auto* content = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        result.body = std::string(content != nullptr ? content : "", size);
        g_bytes_unref(bytes);
    } else {
        // The exchange failed; a status is kept when the response head came
        // before the failure, but a partial body is never handed on.
        result.error = exchange->timedOut
                           ? std::string("The request timed out.")
                           : std::string(error != nullptr ? error->message : "The request failed.");
    }
    g_clear_error(&error);
    exchange->finish(std::move(result));
}

// Runs on the main loop: builds the message and hands it to the session.
void startExchange(Exchange* exchange) {
    if (exchange->abandoned()) {
        exchange->finish({});
        return;
    }
    const HttpRequest& request = exchange->request;

    GError* error = nullptr;
    GUri* uri =
        g_uri_parse(request.url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), &error);
    if (uri == nullptr) {
        std::string text = "Invalid URL \"" + request.url + "\": " + error->message;
        g_error_free(error);
        exchange->fail(std::move(text));
        return;
    }
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const bool supported =
        (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0) &&
        host != nullptr && *host != '\0';
    if (!supported) {
        g_uri_unref(uri);
        exchange->fail("Unsupported URL \"" + request.url + "\"");
        return;
    }
    if (!isToken(request.method)) {
        g_uri_unref(uri);
        exchange->fail("Invalid request method \"" + request.method + "\"");
        return;
    }
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name) || !isSafeFieldValue(value)) {
            g_uri_unref(uri);
            exchange->fail("Invalid header field \"" + name + "\"");
            return;
        }
    }

    exchange->message = soup_message_new_from_uri(request.method.c_str(), uri);
    g_uri_unref(uri);
    SoupMessageHeaders* headers = soup_message_get_request_headers(exchange->message);
    for (const auto& [name, value] : request.headers) {
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
    if (methodSendsBody(request.method)) {
        // An empty body of its own, so that the request says "Content-Length:
        // 0" as HTTP wants of a body-carrying method, and no content type.
        GBytes* empty = g_bytes_new_static("", 0);
        soup_message_set_request_body_from_bytes(exchange->message, nullptr, empty);
        g_bytes_unref(empty);
    }

    const double timeout = request.timeoutSeconds;
    if (std::isfinite(timeout) && timeout > 0 && timeout != exchange->sessionTimeoutSeconds) {
        const double milliseconds = std::min(timeout * 1000.0, double(G_MAXUINT));
        exchange->deadline = GlibSource::after(
            std::chrono::milliseconds(static_cast<long long>(std::ceil(milliseconds))), [exchange] {
                exchange->timedOut = true;
                g_cancellable_cancel(exchange->cancellable);
            });
    }
    soup_session_send_and_read_async(exchange->session, exchange->message, G_PRIORITY_DEFAULT,
                                     exchange->cancellable, onExchangeFinished, exchange);
}

class SoupHttpClient final : public HttpClient {
public:
    explicit SoupHttpClient(double ioTimeoutSeconds) {
        double seconds = std::isfinite(ioTimeoutSeconds) ? std::ceil(ioTimeoutSeconds) : 60.0;
        seconds = std::clamp(seconds, 1.0, 24.0 * 3600.0);
        timeoutSeconds_ = seconds;
        // A plain session has no cache and no cookie jar; it follows redirects.
        session_ = soup_session_new();
        soup_session_set_timeout(session_, static_cast<guint>(seconds));
        soup_session_set_idle_timeout(session_, static_cast<guint>(seconds));
    }

    ~SoupHttpClient() override {
        // Requests in flight are cancelled, and their completions released
        // now, never to run: nothing calls back into a world that is going.
        std::vector<GCancellable*> cancellables;
        registry_->closed = true;
        for (Exchange* exchange : registry_->live) {
            exchange->completion.release();
            cancellables.push_back(G_CANCELLABLE(g_object_ref(exchange->cancellable)));
        }
        for (GCancellable* cancellable : cancellables) {
            g_cancellable_cancel(cancellable);
            g_object_unref(cancellable);
        }
        g_object_unref(session_);
    }

    SoupHttpClient(const SoupHttpClient&) = delete;
    SoupHttpClient& operator=(const SoupHttpClient&) = delete;

    void dropConnections() override {
        // Every request under way gives up its completion now; its exchange
        // goes on only to be freed when libsoup lets go of it.
        std::vector<OnceCompletion<HttpResult>> dropped;
        std::vector<GCancellable*> cancellables;
        for (Exchange* exchange : registry_->live) {
            dropped.push_back(std::move(exchange->completion));
            exchange->completion.release();
            cancellables.push_back(G_CANCELLABLE(g_object_ref(exchange->cancellable)));
        }
        registry_->live.clear();
        for (GCancellable* cancellable : cancellables) {
            g_cancellable_cancel(cancellable);
            g_object_unref(cancellable);
        }
        // Closes the idle connections too, so that the next request opens a
        // new one instead of writing into one that may be dead.
        soup_session_abort(session_);
        for (auto& completion : dropped) {
            HttpResult result;
            result.error = "Connection dropped after the machine woke up";
            completion.complete(std::move(result));
        }
    }

    void send(const HttpRequest& request, std::function<void(HttpResult)> completion) override {
        auto* exchange = new Exchange;
        exchange->registry = registry_;
        exchange->session = SOUP_SESSION(g_object_ref(session_));
        exchange->sessionTimeoutSeconds = timeoutSeconds_;
        exchange->request = request;
        exchange->cancellable = g_cancellable_new();
        if (!registry_->closed) {
            exchange->completion = OnceCompletion<HttpResult>(std::move(completion));
            registry_->live.insert(exchange);
        }
        // Started from the main loop, so that the completion never runs
        // inside send().
        exchange->start = GlibSource::idle([exchange] { startExchange(exchange); });
    }

private:
    std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
    SoupSession* session_ = nullptr;
    double timeoutSeconds_ = 60;
};

} // namespace

std::unique_ptr<HttpClient> makeSoupHttpClient(double ioTimeoutSeconds) {
    return std::make_unique<SoupHttpClient>(ioTimeoutSeconds);
}

} // namespace quorvel::gtk
