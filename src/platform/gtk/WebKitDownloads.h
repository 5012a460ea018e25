#pragma once

#include <gtk/gtk.h>
#include <set>

namespace quorvel::gtk {

class WebKitPageView;

// The downloads a page view starts: each is put to its delegate (whether it
// may start, where it is written while it runs) and its end reported. The
// engine never chooses a file of its own, and never writes over one.
class WebKitDownloads {
public:
    explicit WebKitDownloads(WebKitPageView& view);
    ~WebKitDownloads();
    WebKitDownloads(const WebKitDownloads&) = delete;
    WebKitDownloads& operator=(const WebKitDownloads&) = delete;

private:
    WebKitPageView& page;
    // Downloads under way, each holding a reference.
    std::set<gpointer> running;

    void forget(gpointer download);
    static void onStarted(gpointer context, gpointer download, gpointer self);
    static gboolean onDecideDestination(gpointer download, const char* suggested, gpointer self);
    static void onFailed(gpointer download, GError* error, gpointer self);
    static void onFinished(gpointer download, gpointer self);
};

} // namespace quorvel::gtk
