#include "platform/gtk/PageWebViews.h"

#include <webkit2/webkit2.h>

namespace quorvel::gtk {

namespace {

// A view that is never shown and whose only purpose is to have the engine
// start a web process; the first page view is created related to it and so
// shares that process. It goes once the page view has committed its first
// load.
GtkWidget* earlyView = nullptr;

// No accelerated compositing: without a GPU (and under Xvfb) it runs on
// Mesa's software renderer, and for the watchlist page it cost about 85 MiB
// more PSS and twice the start-up CPU time, loading no faster. No page can
// tell the difference; it also avoids the blank views some GPU drivers give.
// Figures in bench/README.md. A related view shares its settings, so the
// early view has them from the start: changing the compositing policy once
// the process runs stalls the page view's first load.
GtkWidget* withPageSettings(GtkWidget* view) {
    webkit_settings_set_hardware_acceleration_policy(
        webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
        WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    return view;
}

void releaseEarlyView() {
    if (earlyView) {
        g_object_unref(earlyView);
        earlyView = nullptr;
    }
}

void onFirstLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) {
        g_signal_handlers_disconnect_by_func(view, reinterpret_cast<gpointer>(onFirstLoadChanged),
                                             nullptr);
        releaseEarlyView();
    }
}

} // namespace

void startEarlyWebProcess() {
    if (earlyView) {
        return;
    }
    earlyView = withPageSettings(webkit_web_view_new());
    g_object_ref_sink(earlyView);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(earlyView), "about:blank");
}

GtkWidget* newPageWebView() {
    if (!earlyView) {
        return withPageSettings(webkit_web_view_new());
    }
    GtkWidget* view = webkit_web_view_new_with_related_view(WEBKIT_WEB_VIEW(earlyView));
    g_signal_connect(view, "load-changed", G_CALLBACK(onFirstLoadChanged), nullptr);
    return view;
}

} // namespace quorvel::gtk
