#include "platform/gtk/WebKitPageView.h"

#include <algorithm>
#include <chrono>
#include <webkit2/webkit2.h>

// How a load of the page goes: the engine's load events and failures become
// one load phase, and the delegate hears of a load's end once.
namespace quorvel::gtk {

// A load that has no answer from the server after the request's time-out is
// stopped, and so fails like a load the server refused.
void WebKitPageView::awaitAnswer() {
    stopAwaitingAnswer();
    const auto milliseconds = static_cast<guint>(std::max(0.0, answerTimeoutSeconds) * 1000.0);
    answerDeadline =
        GlibSource::after(std::chrono::milliseconds(milliseconds), [this] { answerOverdue(); });
}

void WebKitPageView::stopAwaitingAnswer() {
    answerDeadline.cancel();
}

// The delegate is told last in every handler: it may start another load at
// once.
void WebKitPageView::answerOverdue() {
    phase = LoadPhase::Failed;
    webkit_web_view_stop_loading(WEBKIT_WEB_VIEW(view));
    if (navigationDelegate) {
        navigationDelegate->webViewDidFailNavigation();
    }
}

void WebKitPageView::onLoadChanged(GtkWidget*, int event, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (self->phase == LoadPhase::MessagePage) {
        return;
    }
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        // The engine shows its error page for a failed load as a load of its
        // own; it stays a failure.
        switch (self->phase) {
        case LoadPhase::FailedUntoldErrorPageNext:
            self->phase = LoadPhase::FailedUntold;
            break;
        case LoadPhase::FailedErrorPageNext:
            self->phase = LoadPhase::Failed;
            break;
        default:
            self->phase = LoadPhase::Sound;
            break;
        }
        self->awaitAnswer();
        break;
    case WEBKIT_LOAD_REDIRECTED:
        self->awaitAnswer();
        break;
    case WEBKIT_LOAD_COMMITTED:
        self->stopAwaitingAnswer();
        self->ownLoadPending = false;
        if (self->navigationDelegate && !self->loadFailed()) {
            self->navigationDelegate->webViewDidCommitNavigation();
        }
        break;
    case WEBKIT_LOAD_FINISHED:
        self->stopAwaitingAnswer();
        self->ownLoadPending = false;
        if (!self->navigationDelegate) {
            break;
        }
        // A failure is told when its load ends: by then the engine has asked
        // for its error page, which a load the delegate starts replaces.
        switch (self->phase) {
        case LoadPhase::Sound:
            self->navigationDelegate->webViewDidFinishNavigation();
            break;
        case LoadPhase::FailedUntold:
            self->phase = LoadPhase::Failed;
            self->navigationDelegate->webViewDidFailNavigation();
            break;
        case LoadPhase::FailedUntoldErrorPageNext:
            self->phase = LoadPhase::FailedErrorPageNext;
            self->navigationDelegate->webViewDidFailNavigation();
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

gboolean WebKitPageView::onLoadFailed(GtkWidget*, int, const char*, GError* error, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (self->phase == LoadPhase::MessagePage) {
        // A load the message page replaced: no error page over it.
        return TRUE;
    }
    self->stopAwaitingAnswer();
    self->ownLoadPending = false;
    // The engine shows an error page for every failure but these; the page
    // tells the user what went wrong, and a reload tries again.
    const bool errorPageNext =
        !g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) &&
        !g_error_matches(error, WEBKIT_POLICY_ERROR,
                         WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) &&
        !g_error_matches(error, WEBKIT_PLUGIN_ERROR, WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD);
    // A failure not told yet (an answer refused) is still told.
    const bool untold = self->phase == LoadPhase::FailedUntold ||
                        self->phase == LoadPhase::FailedUntoldErrorPageNext;
    if (errorPageNext) {
        self->phase = LoadPhase::FailedUntoldErrorPageNext;
    } else {
        self->phase = untold ? LoadPhase::FailedUntold : LoadPhase::Failed;
    }
    return FALSE;
}

} // namespace quorvel::gtk
