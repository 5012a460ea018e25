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

} // namespace

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
    return note;
}

} // namespace quorvel::gtk
