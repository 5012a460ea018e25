#include "platform/gtk/WebEngine.h"

#include "service/LogEvents.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <webkit2/webkit2.h>

namespace quorvel::gtk {

namespace {

// The bus proxy the engine runs its sandbox with (a fixed path in the engine).
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

// "5 s", or "1500 ms" where whole seconds would not say it.
std::string describe(std::chrono::milliseconds span) {
    if (span.count() % 1000 == 0) {
        return std::to_string(span.count() / 1000) + " s";
    }
    return std::to_string(span.count()) + " ms";
}

// The child's wait status once it has ended, or nothing if it cannot be had.
std::optional<int> reap(GPid pid) {
    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    return waitStatus;
}

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

} // namespace

// Everywhere else the engine runs bubblewrap unchecked. Where bubblewrap
// cannot create its namespaces (user namespaces turned off, a broken bwrap) or
// its bus proxy is missing, the engine's start of its sandboxed bus proxy
// fails and the engine aborts the whole program. The same trial run the
// engine makes inside containers tells beforehand.
SandboxTrial::SandboxTrial(std::chrono::milliseconds timeLimit, std::string bubblewrapPath)
    : limit(timeLimit), bubblewrap(std::move(bubblewrapPath)),
      started(std::chrono::steady_clock::now()) {
    if (engineDecidesItself()) {
        return;
    }
    if (!g_file_test(busProxyPath, G_FILE_TEST_IS_EXECUTABLE)) {
        failure = std::string(busProxyPath) + " is missing";
        return;
    }
    const char* argv[] = {bubblewrap.c_str(), "--ro-bind", "/",     "/",
                          "--proc",           "/proc",     "--dev", "/dev",
                          "--unshare-all",    "true",      nullptr};
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
        finishTrialRun();
    }
}

std::optional<std::string> SandboxTrial::result() {
    if (pid > 0) {
        failure = finishTrialRun();
    }
    return failure;
}

// A bwrap stuck (on a mount, say) must not hold up start-up for good: past
// the limit it is killed, and the sandbox counts as unavailable. The wait
// sleeps on the run's process descriptor until it ends or the limit passes.
std::optional<std::string> SandboxTrial::finishTrialRun() {
    const GPid child = std::exchange(pid, 0);
    const int ending = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    if (ending < 0) {
        if (errno == ESRCH) {
            return bubblewrap + ": its trial run's end was not seen";
        }
        const std::string reason = g_strerror(errno);
        kill(child, SIGKILL);
        reap(child);
        return bubblewrap + ": its trial run could not be watched: " + reason;
    }
    pollfd ended{ending, POLLIN, 0};
    int ready = 0;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            started + limit - std::chrono::steady_clock::now());
        ready = poll(&ended, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR) {
            break;
        }
    }
    close(ending);
    if (ready <= 0) {
        kill(child, SIGKILL);
        reap(child);
        return bubblewrap + ": its trial run did not end within " + describe(limit);
    }
    const auto waitStatus = reap(child);
    if (!waitStatus) {
        return bubblewrap + ": its trial run's end was not seen";
    }
    GError* error = nullptr;
    if (!g_spawn_check_wait_status(*waitStatus, &error)) {
        std::string message = bubblewrap + ": " + error->message;
        g_error_free(error);
        return message;
    }
    return std::nullopt;
}

WebEngine::WebEngine() = default;

WebEngine::~WebEngine() {
    stopWatchingTaker();
    releaseEarlyView();
}

std::optional<std::string> WebEngine::prepare() {
    // The default context, with the engine's own memory-pressure limits. A
    // context of our own with a limit near the page's size (its handler then
    // frees caches every 30 s) was measured over hours: it cost the page's
    // process about a fifth more CPU and saved about 5 MB. Figures in
    // bench/README.md.
    WebKitWebContext* context = webkit_web_context_get_default();
    std::optional<std::string> note;
    if (const auto failure = sandboxTrial.result()) {
        note = logevent::line(logevent::webSandboxUnavailable,
                              "web sandbox unavailable, web content runs without it: " + *failure);
    } else {
        webkit_web_context_set_sandbox_enabled(context, TRUE);
    }
    return note;
}

void WebEngine::launch(bool startEarly) {
    startUpNote = prepare();
    if (startEarly) {
        startEarlyWebProcess();
    }
}

void WebEngine::startEarlyWebProcess() {
    if (earlyView) {
        return;
    }
    earlyView = withPageSettings(webkit_web_view_new());
    g_object_ref_sink(earlyView);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(earlyView), "about:blank");
}

GtkWidget* WebEngine::newPageWebView() {
    if (!earlyView || earlyViewTaker) {
        return withPageSettings(webkit_web_view_new());
    }
    GtkWidget* view = webkit_web_view_new_with_related_view(WEBKIT_WEB_VIEW(earlyView));
    earlyViewTaker = view;
    g_object_add_weak_pointer(G_OBJECT(view), reinterpret_cast<gpointer*>(&earlyViewTaker));
    g_signal_connect(view, "load-changed", G_CALLBACK(onTakerLoadChanged), this);
    return view;
}

void WebEngine::stopWatchingTaker() {
    if (earlyViewTaker) {
        g_signal_handlers_disconnect_by_data(earlyViewTaker, this);
        g_object_remove_weak_pointer(G_OBJECT(earlyViewTaker),
                                     reinterpret_cast<gpointer*>(&earlyViewTaker));
        earlyViewTaker = nullptr;
    }
}

void WebEngine::releaseEarlyView() {
    if (earlyView) {
        g_object_unref(std::exchange(earlyView, nullptr));
    }
}

void WebEngine::onTakerLoadChanged(GtkWidget*, int event, gpointer data) {
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) {
        auto* self = static_cast<WebEngine*>(data);
        self->stopWatchingTaker();
        self->releaseEarlyView();
    }
}

} // namespace quorvel::gtk
