#pragma once

#include "platform/WebView.h"
#include "platform/gtk/GlibSource.h"

#include <gtk/gtk.h>
#include <memory>
#include <optional>

namespace quorvel::gtk {

class WebEngine;
class WebKitDownloads;

// A WebKitWebView for the page, made by the engine.
class WebKitPageView final : public WebView {
public:
    explicit WebKitPageView(WebEngine& engine);
    ~WebKitPageView() override;
    WebKitPageView(const WebKitPageView&) = delete;
    WebKitPageView& operator=(const WebKitPageView&) = delete;

    void setNavigationDelegate(WebViewNavigationDelegate* delegate) override;
    void setUIDelegate(WebViewUIDelegate* delegate) override;
    void load(const PageRequest& request) override;
    void reload() override;
    void showMessagePage(const std::string& title, const std::string& text) override;
    void terminateWebProcess() override;
    void setCookie(const std::string& url, const std::string& name, const std::string& value,
                   std::function<void()> done) override;

    GtkWidget* widget() const { return view; }
    WebViewNavigationDelegate* delegate() const { return navigationDelegate; }

private:
    GtkWidget* view;
    WebViewNavigationDelegate* navigationDelegate = nullptr;
    WebViewUIDelegate* uiDelegate = nullptr;
    // The last page asked for with load().
    std::optional<PageRequest> lastRequest;
    // Where the load under way (or the last one) stands, which decides what
    // the delegate is told when it ends.
    enum class LoadPhase {
        // Nothing failed: its answer is judged, its end reported.
        Sound,
        // It failed; the delegate is told when it ends.
        FailedUntold,
        // It failed, the engine is about to show its error page for it, and
        // the delegate is told when it ends.
        FailedUntoldErrorPageNext,
        // It failed and the delegate was told; the engine's error page is next.
        FailedErrorPageNext,
        // It failed and the delegate was told, or it is the engine's error
        // page for such a load: nothing more is reported.
        Failed,
        // The message page is what was asked for last: no load reports
        // anything until the next load() or reload().
        MessagePage,
    };
    LoadPhase phase = LoadPhase::Sound;
    bool loadFailed() const { return phase != LoadPhase::Sound && phase != LoadPhase::MessagePage; }
    // How long a load may wait for the server's answer: the last request's.
    double answerTimeoutSeconds = 60.0;
    GlibSource answerDeadline;
    // A load or reload the application asked for is under way: the page is
    // not asked whether it may be left.
    bool ownLoadPending = false;
    // The address the user chose "Open Link" for in the context menu: its
    // navigation is the user's, as a click on the link would be.
    std::optional<std::string> linkOpenedFromMenu;
    std::unique_ptr<WebKitDownloads> downloads;

    void awaitAnswer();
    void stopAwaitingAnswer();
    void answerOverdue();
    static void onLoadChanged(GtkWidget* view, int event, gpointer self);
    static gboolean onLoadFailed(GtkWidget* view, int event, const char* uri, GError* error,
                                 gpointer self);
    static gboolean onDecidePolicy(GtkWidget* view, gpointer decision, int type, gpointer self);
    static void onWebProcessTerminated(GtkWidget* view, int reason, gpointer self);
    static gboolean onScriptDialog(GtkWidget* view, gpointer dialog, gpointer self);

    // What the page may do (WebKitPagePolicy.cpp).
    void connectPolicySignals();
    gboolean decideNavigation(gpointer decision, bool newWindow);
    void loadNewWindowAddress(const char* uri);
    void openLinkFromMenu(const char* uri);
    static GtkWidget* onCreate(GtkWidget* view, gpointer action, gpointer self);
    static gboolean onAuthenticate(GtkWidget* view, gpointer request, gpointer self);
    static gboolean onContextMenu(GtkWidget* view, gpointer menu, gpointer event, gpointer hit,
                                  gpointer self);
    static void onOpenLinkChosen(GSimpleAction* action, GVariant* parameter, gpointer self);
    static gboolean onKeyPress(GtkWidget* view, GdkEventKey* event, gpointer self);
    static gboolean onButtonPress(GtkWidget* view, GdkEventButton* event, gpointer self);
    static void onResponsivenessChanged(GtkWidget* view, gpointer property, gpointer self);
};

} // namespace quorvel::gtk
