#include "platform/gtk/WebKitPageView.h"

#include "platform/gtk/MessagePage.h"
#include "platform/gtk/ServiceCookie.h"
#include "platform/gtk/WebEngine.h"
#include "platform/gtk/WebKitDownloads.h"

#include <cstring>
#include <libsoup/soup.h>
#include <utility>
#include <vector>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {

namespace {

// Only answers over HTTP have header fields to judge; the application's own
// pages (about:, data:) have none.
bool isHttp(const char* uri) {
    const char* scheme = uri ? g_uri_peek_scheme(uri) : nullptr;
    return scheme && (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0);
}

std::vector<std::pair<std::string, std::string>> headerFields(WebKitURIResponse* response) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response)) {
        soup_message_headers_foreach(
            headers,
            +[](const char* name, const char* value, gpointer out) {
                static_cast<std::vector<std::pair<std::string, std::string>>*>(out)->emplace_back(
                    name, value);
            },
            &fields);
    }
    return fields;
}

WebProcessTermination terminationFor(int reason) {
    switch (reason) {
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
        return WebProcessTermination::ExceededMemoryLimit;
    case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
        return WebProcessTermination::RequestedByApplication;
    case WEBKIT_WEB_PROCESS_CRASHED:
    default:
        return WebProcessTermination::Crashed;
    }
}

} // namespace

WebKitPageView::WebKitPageView(WebEngine& engine) : view(engine.newPageWebView()) {
    g_object_ref_sink(view);
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);
    g_signal_connect(view, "script-dialog", G_CALLBACK(onScriptDialog), this);
    connectPolicySignals();
    downloads = std::make_unique<WebKitDownloads>(*this);
}

WebKitPageView::~WebKitPageView() {
    downloads.reset();
    stopAwaitingAnswer();
    g_signal_handlers_disconnect_by_data(view, this);
    g_object_unref(view);
}

void WebKitPageView::setNavigationDelegate(WebViewNavigationDelegate* delegate) {
    navigationDelegate = delegate;
}

void WebKitPageView::setUIDelegate(WebViewUIDelegate* delegate) {
    uiDelegate = delegate;
}

void WebKitPageView::load(const PageRequest& request) {
    phase = phase == LoadPhase::Sound ? LoadPhase::Sound : LoadPhase::Failed;
    ownLoadPending = true;
    lastRequest = request;
    answerTimeoutSeconds = request.timeoutSeconds;
    WebKitURIRequest* uriRequest = webkit_uri_request_new(request.url.c_str());
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(uriRequest);
    if (request.cachePolicy == CachePolicy::ReloadIgnoringLocalCacheData && headers != nullptr) {
        // The engine takes no cache policy per load. These are the fields it
        // sends itself when it reloads from the origin: its cache then asks
        // the server instead of answering with what it kept.
        soup_message_headers_replace(headers, "Cache-Control", "no-cache");
        soup_message_headers_replace(headers, "Pragma", "no-cache");
    }
    webkit_web_view_load_request(WEBKIT_WEB_VIEW(view), uriRequest);
    g_object_unref(uriRequest);
}

void WebKitPageView::setCookie(const std::string& url, const std::string& name,
                               const std::string& value, std::function<void()> done) {
    storeSessionCookie(view, url, name, value, std::move(done));
}

void WebKitPageView::reload() {
    if (phase == LoadPhase::MessagePage) {
        // The engine would load the message page again; a reload means the
        // page it stands in for.
        if (lastRequest) {
            load(*lastRequest);
        }
        return;
    }
    phase = phase == LoadPhase::Sound ? LoadPhase::Sound : LoadPhase::Failed;
    ownLoadPending = true;
    webkit_web_view_reload(WEBKIT_WEB_VIEW(view));
}

// It replaces whatever load is under way, which then reports nothing either.
void WebKitPageView::showMessagePage(const std::string& title, const std::string& text) {
    stopAwaitingAnswer();
    phase = LoadPhase::MessagePage;
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), messagePageHtml(title, text).c_str(),
                              "about:blank");
}

void WebKitPageView::terminateWebProcess() {
    webkit_web_view_terminate_web_process(WEBKIT_WEB_VIEW(view));
}

// The delegate judges the answer of every load of the page (not of the
// engine's error page, nor of the message page) before any of it is shown.
gboolean WebKitPageView::onDecidePolicy(GtkWidget*, gpointer decisionPointer, int type,
                                        gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION ||
        type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        return self->decideNavigation(decisionPointer,
                                      type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION);
    }
    if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE || !self->navigationDelegate ||
        self->phase != LoadPhase::Sound) {
        return FALSE;
    }
    auto* decision = WEBKIT_RESPONSE_POLICY_DECISION(decisionPointer);
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    if (!webkit_response_policy_decision_is_main_frame_main_resource(decision) ||
        !isHttp(webkit_uri_response_get_uri(response))) {
        return FALSE;
    }
    if (self->navigationDelegate->webViewShouldAcceptResponse(headerFields(response))) {
        return FALSE;
    }
    // The load then fails without an error page; the failure is told when
    // it ends (or when its answer is overdue, should it not end).
    self->phase = LoadPhase::FailedUntold;
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    return TRUE;
}

void WebKitPageView::onWebProcessTerminated(GtkWidget*, int reason, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    self->stopAwaitingAnswer();
    // Whatever load was under way is gone with the process.
    if (self->phase != LoadPhase::MessagePage) {
        self->phase = LoadPhase::Failed;
    }
    if (self->navigationDelegate) {
        self->navigationDelegate->webViewWebContentProcessDidTerminate(terminationFor(reason));
    }
}

gboolean WebKitPageView::onScriptDialog(GtkWidget*, gpointer dialogPointer, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    auto* dialog = static_cast<WebKitScriptDialog*>(dialogPointer);
    if (webkit_script_dialog_get_dialog_type(dialog) ==
        WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        // The application's own loads and reloads leave the page without
        // asking; when the user leaves it, the engine asks as usual.
        if (!self->ownLoadPending) {
            return FALSE;
        }
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
    }
    if (!self->uiDelegate) {
        return FALSE;
    }
    const std::string message = webkit_script_dialog_get_message(dialog);
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT:
        self->uiDelegate->runJavaScriptAlertPanel(message, [] {});
        return TRUE;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        self->uiDelegate->runJavaScriptConfirmPanel(message, [dialog](bool confirmed) {
            webkit_script_dialog_confirm_set_confirmed(dialog, confirmed);
        });
        return TRUE;
    case WEBKIT_SCRIPT_DIALOG_PROMPT: {
        const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
        self->uiDelegate->runJavaScriptTextInputPanel(
            message, defaultText ? std::optional<std::string>(defaultText) : std::nullopt,
            [dialog](const std::optional<std::string>& answer) {
                // Without a text the page's prompt() yields null.
                if (answer) {
                    webkit_script_dialog_prompt_set_text(dialog, answer->c_str());
                }
            });
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace quorvel::gtk
