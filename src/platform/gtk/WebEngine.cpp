#include "platform/gtk/WebEngine.h"

#include <cstdlib>
#include <glib.h>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {

namespace {

// The programs the engine runs its sandbox with (fixed paths in the engine).
constexpr const char* bubblewrapPath = "/usr/bin/bwrap";
constexpr const char* busProxyPath = "/usr/bin/xdg-dbus-proxy";

// The engine tests bubblewrap itself only inside Podman-style containers,
// Flatpak and Snap; there it turns its sandbox off on its own with a warning.
bool engineDecidesItself() {
    const char* disabled = std::getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS");
    return g_file_test("/run/.containerenv", G_FILE_TEST_EXISTS) ||
           g_file_test("/.flatpak-info", G_FILE_TEST_EXISTS) ||
           (std::getenv("SNAP") && std::getenv("SNAP_NAME") && std::getenv("SNAP_REVISION")) ||
           (disabled && std::string(disabled) != "0");
}

// Everywhere else it runs bubblewrap unchecked. Where bubblewrap cannot create
// its namespaces (user namespaces turned off, a broken bwrap) or its bus proxy
// is missing, the engine's start of its sandboxed bus proxy fails and the
// engine aborts the whole program. The same trial run the engine makes inside
// containers tells beforehand.
std::optional<std::string> sandboxFailure() {
    if (!g_file_test(busProxyPath, G_FILE_TEST_IS_EXECUTABLE)) {
        return std::string(busProxyPath) + " is missing";
    }
    const char* argv[] = {bubblewrapPath,  "--ro-bind", "/",     "/",
                          "--proc",        "/proc",     "--dev", "/dev",
                          "--unshare-all", "true",      nullptr};
    int waitStatus = 0;
    GError* error = nullptr;
    if (!g_spawn_sync(
            nullptr, const_cast<char**>(argv), nullptr,
            static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
            nullptr, nullptr, nullptr, nullptr, &waitStatus, &error)) {
        std::string reason = error->message;
        g_error_free(error);
        return reason;
    }
    if (!g_spawn_check_wait_status(waitStatus, &error)) {
        std::string reason = std::string(bubblewrapPath) + ": " + error->message;
        g_error_free(error);
        return reason;
    }
    return std::nullopt;
}

// A view with no content whose only purpose is to have the engine start a web
// process early; the first real view is created related to it and so shares
// that process. It goes once the real view has committed its first load.
GtkWidget* warmView = nullptr;

void releaseWarmView() {
    if (warmView) {
        g_object_unref(warmView);
        warmView = nullptr;
    }
}

void onFirstLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) {
        g_signal_handlers_disconnect_by_func(view, reinterpret_cast<gpointer>(onFirstLoadChanged),
                                             nullptr);
        releaseWarmView();
    }
}

// Loading the empty document has the engine start the web process (with its
// sandbox) while the application goes on with its own start-up.
void startWebProcess() {
    warmView = webkit_web_view_new();
    g_object_ref_sink(warmView);
    // The page view shares this view's settings, so they are the page view's
    // from the start: changing the compositing policy once the process runs
    // stalls the page view's first load.
    webkit_settings_set_hardware_acceleration_policy(
        webkit_web_view_get_settings(WEBKIT_WEB_VIEW(warmView)),
        WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(warmView), "about:blank");
}

} // namespace

GtkWidget* newEngineWebView() {
    if (!warmView) {
        return webkit_web_view_new();
    }
    GtkWidget* view = webkit_web_view_new_with_related_view(WEBKIT_WEB_VIEW(warmView));
    g_signal_connect(view, "load-changed", G_CALLBACK(onFirstLoadChanged), nullptr);
    return view;
}

std::optional<std::string> prepareWebEngine() {
    WebKitWebContext* context = webkit_web_context_get_default();
    std::optional<std::string> note;
    if (engineDecidesItself()) {
        webkit_web_context_set_sandbox_enabled(context, TRUE);
    } else if (const auto failure = sandboxFailure()) {
        note = "web sandbox unavailable, web content runs without it: " + *failure;
    } else {
        webkit_web_context_set_sandbox_enabled(context, TRUE);
    }
    startWebProcess();
    return note;
}

} // namespace quorvel::gtk
