#pragma once

#include "platform/WebView.h"

#include <gtk/gtk.h>

namespace quorvel::gtk {

// A WebKitWebView with the engine's default settings.
class WebKitPageView final : public WebView {
public:
    WebKitPageView();
    ~WebKitPageView() override;

    void setNavigationDelegate(WebViewNavigationDelegate* delegate) override;
    void setUIDelegate(WebViewUIDelegate* delegate) override;
    void load(const PageRequest& request) override;
    void reload() override;

    GtkWidget* widget() const { return view; }

private:
    GtkWidget* view;
    WebViewNavigationDelegate* navigationDelegate = nullptr;
    WebViewUIDelegate* uiDelegate = nullptr;
    // The load under way failed, or is the engine's error page for one.
    bool currentLoadFailed = false;
    // A load failed and the engine is about to show its error page for it.
    bool errorPageExpected = false;
    // How long a load may wait for the server's answer: the last request's.
    double answerTimeoutSeconds = 60.0;
    guint answerDeadline = 0;

    void awaitAnswer();
    void stopAwaitingAnswer();
    static gboolean onAnswerOverdue(gpointer self);
    static void onLoadChanged(GtkWidget* view, int event, gpointer self);
    static gboolean onLoadFailed(GtkWidget* view, int event, const char* uri, GError* error,
                                 gpointer self);
    static gboolean onScriptDialog(GtkWidget* view, gpointer dialog, gpointer self);
};

} // namespace quorvel::gtk
