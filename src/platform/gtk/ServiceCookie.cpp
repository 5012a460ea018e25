#include "platform/gtk/ServiceCookie.h"

#include <libsoup/soup.h>
#include <memory>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {

void storeSessionCookie(GtkWidget* webView, const std::string& url, const std::string& name,
                        const std::string& value, std::function<void()> done) {
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    const char* host = uri ? g_uri_get_host(uri) : nullptr;
    if (host == nullptr) {
        if (uri) {
            g_uri_unref(uri);
        }
        done();
        return;
    }
    // A domain without a leading dot is the host alone.
    SoupCookie* cookie = soup_cookie_new(name.c_str(), value.c_str(), host, "/", -1);
    g_uri_unref(uri);
    soup_cookie_set_http_only(cookie, TRUE);
    soup_cookie_set_same_site_policy(cookie, SOUP_SAME_SITE_POLICY_STRICT);
    WebKitCookieManager* manager = webkit_web_context_get_cookie_manager(
        webkit_web_view_get_context(WEBKIT_WEB_VIEW(webView)));
    // The manager belongs to the web context, which outlives every view.
    auto* pending = new std::function<void()>(std::move(done));
    webkit_cookie_manager_add_cookie(
        manager, cookie, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::function<void()>> finish(
                static_cast<std::function<void()>*>(data));
            GError* error = nullptr;
            if (!webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result,
                                                         &error)) {
                g_warning("the service's cookie was not stored: %s", error->message);
                g_error_free(error);
            }
            (*finish)();
        },
        pending);
    soup_cookie_free(cookie);
}

} // namespace quorvel::gtk
