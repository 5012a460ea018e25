#include "platform/gtk/WebKitPageView.h"

#include "platform/gtk/PageWebViews.h"

#include <algorithm>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {

WebKitPageView::WebKitPageView() : view(newPageWebView()) {
    g_object_ref_sink(view);
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view, "script-dialog", G_CALLBACK(onScriptDialog), this);
}

WebKitPageView::~WebKitPageView() {
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
    errorPageExpected = false;
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

void WebKitPageView::reload() {
    errorPageExpected = false;
    webkit_web_view_reload(WEBKIT_WEB_VIEW(view));
}

// A load that has no answer from the server after the request's time-out is
// stopped, and so fails like a load the server refused.
void WebKitPageView::awaitAnswer() {
    stopAwaitingAnswer();
    const auto milliseconds = static_cast<guint>(std::max(0.0, answerTimeoutSeconds) * 1000.0);
    answerDeadline = g_timeout_add(milliseconds, onAnswerOverdue, this);
}

void WebKitPageView::stopAwaitingAnswer() {
    if (answerDeadline != 0) {
        g_source_remove(answerDeadline);
        answerDeadline = 0;
    }
}

gboolean WebKitPageView::onAnswerOverdue(gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    self->answerDeadline = 0;
    self->currentLoadFailed = true;
    self->errorPageExpected = false;
    webkit_web_view_stop_loading(WEBKIT_WEB_VIEW(self->view));
    return G_SOURCE_REMOVE;
}

void WebKitPageView::onLoadChanged(GtkWidget*, int event, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        // The engine shows its error page for a failed load as a load of its
        // own; it stays a failure.
        self->currentLoadFailed = self->errorPageExpected;
        self->errorPageExpected = false;
        self->awaitAnswer();
        break;
    case WEBKIT_LOAD_REDIRECTED:
        self->awaitAnswer();
        break;
    case WEBKIT_LOAD_COMMITTED:
        self->stopAwaitingAnswer();
        break;
    case WEBKIT_LOAD_FINISHED:
        self->stopAwaitingAnswer();
        if (!self->currentLoadFailed && self->navigationDelegate) {
            self->navigationDelegate->webViewDidFinishNavigation();
        }
        break;
    default:
        break;
    }
}

gboolean WebKitPageView::onLoadFailed(GtkWidget*, int, const char*, GError* error, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    self->stopAwaitingAnswer();
    self->currentLoadFailed = true;
    // The engine shows an error page for every failure but these; the page
    // tells the user what went wrong, and a reload tries again.
    self->errorPageExpected =
        !g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) &&
        !g_error_matches(error, WEBKIT_POLICY_ERROR,
                         WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) &&
        !g_error_matches(error, WEBKIT_PLUGIN_ERROR, WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD);
    return FALSE;
}

gboolean WebKitPageView::onScriptDialog(GtkWidget*, gpointer dialogPointer, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    auto* dialog = static_cast<WebKitScriptDialog*>(dialogPointer);
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
        return FALSE; // before-unload and others keep the engine's default
    }
}

} // namespace quorvel::gtk
