#include "platform/gtk/WebEngine.h"

#include <cerrno>
#include <cstdlib>
#include <sys/wait.h>
#include <utility>
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

// The child's wait status, or nothing if it cannot be had.
std::optional<int> waitFor(GPid pid) {
    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    return waitStatus;
}

} // namespace

// Everywhere else the engine runs bubblewrap unchecked. Where bubblewrap
// cannot create its namespaces (user namespaces turned off, a broken bwrap) or
// its bus proxy is missing, the engine's start of its sandboxed bus proxy
// fails and the engine aborts the whole program. The same trial run the
// engine makes inside containers tells beforehand.
SandboxTrial::SandboxTrial() {
    if (engineDecidesItself()) {
        return;
    }
    if (!g_file_test(busProxyPath, G_FILE_TEST_IS_EXECUTABLE)) {
        failure = std::string(busProxyPath) + " is missing";
        return;
    }
    const char* argv[] = {bubblewrapPath,  "--ro-bind", "/",     "/",
                          "--proc",        "/proc",     "--dev", "/dev",
                          "--unshare-all", "true",      nullptr};
    GError* error = nullptr;
    if (!g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                       static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD |
                                                G_SPAWN_STDOUT_TO_DEV_NULL |
                                                G_SPAWN_STDERR_TO_DEV_NULL),
                       nullptr, nullptr, &pid, &error)) {
        failure = error->message;
        g_error_free(error);
    }
}

SandboxTrial::~SandboxTrial() {
    // A second start hands over to the running instance without asking for
    // the result; its trial run ends here.
    if (pid > 0) {
        waitFor(pid);
    }
}

std::optional<std::string> SandboxTrial::result() {
    if (pid > 0) {
        const std::optional<int> waitStatus = waitFor(std::exchange(pid, 0));
        GError* error = nullptr;
        if (!waitStatus) {
            failure = std::string(bubblewrapPath) + ": its trial run's end was not seen";
        } else if (!g_spawn_check_wait_status(*waitStatus, &error)) {
            failure = std::string(bubblewrapPath) + ": " + error->message;
            g_error_free(error);
        }
    }
    return failure;
}

std::optional<std::string> prepareWebEngine(SandboxTrial& trial) {
    WebKitWebContext* context = webkit_web_context_get_default();
    std::optional<std::string> note;
    if (const auto failure = trial.result()) {
        note = "web sandbox unavailable, web content runs without it: " + *failure;
    } else {
        webkit_web_context_set_sandbox_enabled(context, TRUE);
    }
    return note;
}

} // namespace quorvel::gtk
