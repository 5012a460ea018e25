#include "platform/gtk/WebKitPageView.h"

#include <webkit2/webkit2.h>

namespace quorvel::gtk {

WebKitPageView::WebKitPageView() : view(webkit_web_view_new()) {
    g_object_ref_sink(view);
    // No accelerated compositing: without a GPU (and under Xvfb) it runs on
    // Mesa's software renderer, and for the watchlist page it cost about
    // 85 MiB more PSS and twice the start-up CPU time, loading no faster. No
    // page can tell the difference; it also avoids the blank views some GPU
    // drivers give. Figures in bench/README.md.
    webkit_settings_set_hardware_acceleration_policy(
        webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
        WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view, "script-dialog", G_CALLBACK(onScriptDialog), this);
}

WebKitPageView::~WebKitPageView() {
    g_signal_handlers_disconnect_by_data(view, this);
    g_object_unref(view);
}

void WebKitPageView::setNavigationDelegate(WebViewNavigationDelegate* delegate) {
    navigationDelegate = delegate;
}

void WebKitPageView::setUIDelegate(WebViewUIDelegate* delegate) {
    uiDelegate = delegate;
}

// WebKitGTK has no per-request cache policy or time-out: its own network
// layer decides both, so the request's URL is all that is passed on.
void WebKitPageView::load(const PageRequest& request) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), request.url.c_str());
}

void WebKitPageView::reload() {
    webkit_web_view_reload(WEBKIT_WEB_VIEW(view));
}

void WebKitPageView::onLoadChanged(GtkWidget*, int event, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (event == WEBKIT_LOAD_STARTED) {
        self->currentLoadFailed = false;
    } else if (event == WEBKIT_LOAD_FINISHED) {
        if (!self->currentLoadFailed && self->navigationDelegate) {
            self->navigationDelegate->webViewDidFinishNavigation();
        }
    }
}

gboolean WebKitPageView::onLoadFailed(GtkWidget*, int, const char*, GError*, gpointer data) {
    static_cast<WebKitPageView*>(data)->currentLoadFailed = true;
    return FALSE; // the engine's own error page, if any
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
