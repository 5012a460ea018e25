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
    bool currentLoadFailed = false;

    static void onLoadChanged(GtkWidget* view, int event, gpointer self);
    static gboolean onLoadFailed(GtkWidget* view, int event, const char* uri, GError* error,
                                 gpointer self);
    static gboolean onScriptDialog(GtkWidget* view, gpointer dialog, gpointer self);
};

} // namespace quorvel::gtk
