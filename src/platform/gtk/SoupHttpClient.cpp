#include "platform/gtk/SoupHttpClient.h"

#include "platform/gtk/OnceCompletion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <giomm/cancellable.h>
#include <giomm/init.h>
#include <glibmm/main.h>
#include <libsoup/soup.h>
#include <map>
#include <memory>
#include <sigc++/adaptors/track_obj.h>
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

// One request on its way through libsoup, from its start until libsoup is
// done with it; libsoup's callback owns it. What it finds goes to `report`,
// which is bound to the client: once the client is gone, nothing is reported.
struct Exchange {
    SoupMessage* message = nullptr;
    Glib::RefPtr<Gio::Cancellable> cancellable;
    sigc::connection deadline;
    bool timedOut = false;
    sigc::slot<void, HttpResult> report;

    Exchange() = default;
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    ~Exchange() {
        deadline.disconnect();
        g_clear_object(&message);
    }
};

void onExchangeFinished(GObject* source, GAsyncResult* asyncResult, gpointer data) {
    const std::unique_ptr<Exchange> exchange(static_cast<Exchange*>(data));
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
    exchange->report(std::move(result));
}

HttpResult failure(std::string error) {
    HttpResult result;
    result.error = std::move(error);
    return result;
}

// The message for a request, or why it cannot be sent.
SoupMessage* newMessage(const HttpRequest& request, std::string& problem) {
    GError* error = nullptr;
    GUri* uri =
        g_uri_parse(request.url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), &error);
    if (uri == nullptr) {
        problem = "Invalid URL \"" + request.url + "\": " + error->message;
        g_error_free(error);
        return nullptr;
    }
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const bool supported =
        (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0) &&
        host != nullptr && *host != '\0';
    if (!supported) {
        problem = "Unsupported URL \"" + request.url + "\"";
    } else if (!isToken(request.method)) {
        problem = "Invalid request method \"" + request.method + "\"";
    }
    for (const auto& [name, value] : request.headers) {
        if (problem.empty() && (!isToken(name) || !isSafeFieldValue(value))) {
            problem = "Invalid header field \"" + name + "\"";
        }
    }
    if (!problem.empty()) {
        g_uri_unref(uri);
        return nullptr;
    }

    SoupMessage* message = soup_message_new_from_uri(request.method.c_str(), uri);
    g_uri_unref(uri);
    SoupMessageHeaders* headers = soup_message_get_request_headers(message);
    for (const auto& [name, value] : request.headers) {
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
    if (methodSendsBody(request.method)) {
        // An empty body of its own, so that the request says "Content-Length:
        // 0" as HTTP wants of a body-carrying method, and no content type.
        GBytes* empty = g_bytes_new_static("", 0);
        soup_message_set_request_body_from_bytes(message, nullptr, empty);
        g_bytes_unref(empty);
    }
    return message;
}

// Every request in flight has one entry here, from send() until its result is
// reported; whatever ends it first (its answer, dropConnections(), the
// client's end) takes the entry, so a completion runs at most once, and never
// after the client is gone. Every step still to come is bound to the client
// (sigc::trackable). Like the session, main loop only.
class SoupHttpClient final : public HttpClient, public sigc::trackable {
public:
    explicit SoupHttpClient(double ioTimeoutSeconds) {
        Gio::init();
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
        for (const auto& [id, entry] : std::exchange(inFlight_, {})) {
            entry.cancellable->cancel();
        }
        g_object_unref(session_);
    }

    SoupHttpClient(const SoupHttpClient&) = delete;
    SoupHttpClient& operator=(const SoupHttpClient&) = delete;

    void dropConnections() override {
        // Every request under way gives up its completion now; its exchange
        // goes on only to be freed when libsoup lets go of it.
        auto dropped = std::exchange(inFlight_, {});
        for (const auto& [id, entry] : dropped) {
            entry.cancellable->cancel();
        }
        // Closes the idle connections too, so that the next request opens a
        // new one instead of writing into one that may be dead.
        soup_session_abort(session_);
        for (auto& [id, entry] : dropped) {
            entry.completion.complete(failure("Connection dropped after the machine woke up"));
        }
    }

    void send(const HttpRequest& request, std::function<void(HttpResult)> completion) override {
        const std::uint64_t id = nextId_++;
        inFlight_.emplace(id, InFlight{OnceCompletion<HttpResult>(std::move(completion)),
                                       Gio::Cancellable::create()});
        // Started from the main loop, so that the completion never runs
        // inside send().
        Glib::signal_idle().connect_once(
            sigc::track_object([this, id, request] { start(id, request); }, *this),
            Glib::PRIORITY_DEFAULT);
    }

private:
    struct InFlight {
        OnceCompletion<HttpResult> completion;
        Glib::RefPtr<Gio::Cancellable> cancellable;
    };

    void start(std::uint64_t id, const HttpRequest& request) {
        const auto found = inFlight_.find(id);
        if (found == inFlight_.end()) {
            return; // dropped before it started
        }
        std::string problem;
        SoupMessage* message = newMessage(request, problem);
        if (message == nullptr) {
            finish(id, failure(problem));
            return;
        }
        auto* exchange = new Exchange;
        exchange->message = message;
        exchange->cancellable = found->second.cancellable;
        exchange->report = sigc::track_object(
            [this, id](HttpResult result) { finish(id, std::move(result)); }, *this);
        const double timeout = request.timeoutSeconds;
        if (std::isfinite(timeout) && timeout > 0 && timeout != timeoutSeconds_) {
            const double milliseconds = std::ceil(std::min(timeout * 1000.0, double(G_MAXUINT)));
            exchange->deadline = Glib::signal_timeout().connect(
                [exchange] {
                    exchange->timedOut = true;
                    exchange->cancellable->cancel();
                    return false;
                },
                static_cast<unsigned>(milliseconds));
        }
        soup_session_send_and_read_async(session_, message, G_PRIORITY_DEFAULT,
                                         exchange->cancellable->gobj(), onExchangeFinished,
                                         exchange);
    }

    void finish(std::uint64_t id, HttpResult result) {
        auto entry = inFlight_.extract(id);
        if (!entry.empty()) {
            entry.mapped().completion.complete(std::move(result));
        }
    }

    std::map<std::uint64_t, InFlight> inFlight_;
    std::uint64_t nextId_ = 0;
    SoupSession* session_ = nullptr;
    double timeoutSeconds_ = 60;
};

} // namespace

std::unique_ptr<HttpClient> makeSoupHttpClient(double ioTimeoutSeconds) {
    return std::make_unique<SoupHttpClient>(ioTimeoutSeconds);
}

} // namespace quorvel::gtk
