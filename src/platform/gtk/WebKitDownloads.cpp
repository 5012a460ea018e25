#include "platform/gtk/WebKitDownloads.h"

#include "platform/gtk/WebKitPageView.h"

#include <string>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {

namespace {

std::string requestUri(WebKitDownload* download) {
    WebKitURIRequest* request = webkit_download_get_request(download);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return uri ? uri : "";
}

std::string destinationPath(WebKitDownload* download) {
    const char* destination = webkit_download_get_destination(download);
    if (!destination) {
        return {};
    }
    gchar* path = g_filename_from_uri(destination, nullptr, nullptr);
    std::string result = path ? path : destination;
    g_free(path);
    return result;
}

} // namespace

WebKitDownloads::WebKitDownloads(WebKitPageView& view) : page(view) {
    g_signal_connect(webkit_web_view_get_context(WEBKIT_WEB_VIEW(page.widget())),
                     "download-started", G_CALLBACK(onStarted), this);
}

WebKitDownloads::~WebKitDownloads() {
    g_signal_handlers_disconnect_by_data(
        webkit_web_view_get_context(WEBKIT_WEB_VIEW(page.widget())), this);
    for (gpointer download : running) {
        g_signal_handlers_disconnect_by_data(download, this);
        webkit_download_cancel(WEBKIT_DOWNLOAD(download));
        g_object_unref(download);
    }
}

void WebKitDownloads::forget(gpointer download) {
    if (running.erase(download) > 0) {
        g_signal_handlers_disconnect_by_data(download, this);
        g_object_unref(download);
    }
}

// Every download of the shared context comes here; this view's only are
// its own.
void WebKitDownloads::onStarted(gpointer, gpointer downloadPointer, gpointer data) {
    auto* self = static_cast<WebKitDownloads*>(data);
    auto* download = WEBKIT_DOWNLOAD(downloadPointer);
    if (webkit_download_get_web_view(download) != WEBKIT_WEB_VIEW(self->page.widget())) {
        return;
    }
    WebViewNavigationDelegate* delegate = self->page.delegate();
    if (!delegate || !delegate->webViewShouldAllowDownload(requestUri(download))) {
        webkit_download_cancel(download);
        return;
    }
    webkit_download_set_allow_overwrite(download, FALSE);
    self->running.insert(g_object_ref(download));
    g_signal_connect(download, "decide-destination", G_CALLBACK(onDecideDestination), self);
    g_signal_connect(download, "failed", G_CALLBACK(onFailed), self);
    g_signal_connect(download, "finished", G_CALLBACK(onFinished), self);
}

gboolean WebKitDownloads::onDecideDestination(gpointer downloadPointer, const char* suggested,
                                              gpointer data) {
    auto* self = static_cast<WebKitDownloads*>(data);
    auto* download = WEBKIT_DOWNLOAD(downloadPointer);
    WebViewNavigationDelegate* delegate = self->page.delegate();
    const auto destination =
        delegate
            ? delegate->webViewDownloadDestination(requestUri(download), suggested ? suggested : "")
            : std::nullopt;
    if (!destination) {
        webkit_download_cancel(download);
        return TRUE;
    }
    // This version of the engine takes the destination as a file URI.
    gchar* uri = g_filename_to_uri(destination->c_str(), nullptr, nullptr);
    if (!uri) {
        webkit_download_cancel(download);
        return TRUE;
    }
    webkit_download_set_destination(download, uri);
    g_free(uri);
    return TRUE;
}

// "failed" comes before "finished" for a failed download: the destination
// given is reported once, as failed or as complete.
void WebKitDownloads::onFailed(gpointer downloadPointer, GError* error, gpointer data) {
    auto* self = static_cast<WebKitDownloads*>(data);
    auto* download = WEBKIT_DOWNLOAD(downloadPointer);
    const std::string destination = destinationPath(download);
    const std::string message = error ? error->message : "failed";
    self->forget(download);
    WebViewNavigationDelegate* delegate = self->page.delegate();
    if (delegate && !destination.empty()) {
        delegate->webViewDownloadDidFail(destination, message);
    }
}

void WebKitDownloads::onFinished(gpointer downloadPointer, gpointer data) {
    auto* self = static_cast<WebKitDownloads*>(data);
    auto* download = WEBKIT_DOWNLOAD(downloadPointer);
    const std::string destination = destinationPath(download);
    self->forget(download);
    WebViewNavigationDelegate* delegate = self->page.delegate();
    if (delegate && !destination.empty()) {
        delegate->webViewDownloadDidFinish(destination);
    }
}

} // namespace quorvel::gtk
