#include "ui/PageLife.h"

#include "BuildConfig.h"
#include "service/LogEvents.h"
#include "ui/PageRestDelay.h"

namespace quorvel {

namespace {

// How long the window stays closed before its page gives its memory back.
// The shell spends most of its time with its window closed: the page's
// process then only costs memory. Alerts, polling and the menus do not need
// it.
// How long the page's process may stop answering before it is ended.
constexpr double unresponsiveSeconds = 10.0;

const std::string crashPageText =
    "页面多次意外退出，已停止自动重新加载。请选择“刷新”（Ctrl+R）重试。";
const std::string unresponsivePageText =
    "页面长时间无响应，已停止。请选择“刷新”（Ctrl+R）重新加载。";

// A page of the application's own stands in for the service's page.
bool showsMessage(PageState state) {
    return state == PageState::CrashBudgetSpent || state == PageState::Unresponsive;
}

// The page is there, or on its way: it may rest.
bool mayRest(PageState state) {
    return state == PageState::Loading || state == PageState::Shown ||
           state == PageState::DialogsStopped || state == PageState::CrashReloading;
}

} // namespace

void PageLife::start(PageRequest request) {
    pageRequest = std::move(request);
    handle(PageEvent::ServiceAnswered);
}

// The retry waiting for its time then loads from the new address at once.
void PageLife::followService(const std::string& url) {
    if (pageRequest && pageRequest->url != url) {
        pageRequest->url = url;
        handle(PageEvent::ServiceMoved);
        return;
    }
    handle(PageEvent::RetryDue);
}

void PageLife::handle(PageEvent event) {
    switch (event) {
    case PageEvent::ServiceAnswered:
        load(PageState::Loading);
        return;

    case PageEvent::Committed:
        // A new page: its dialogs start over.
        dialogRun.reset();
        moveFrom(PageState::DialogsStopped, PageState::Loading);
        return;
    case PageEvent::UserStoppedDialogs:
        dialogRun.stop();
        moveFrom(PageState::Shown, PageState::DialogsStopped);
        return;

    case PageEvent::Finished:
        retryDelays.reset();
        retry.reset();
        if (current != PageState::NotLoaded && current != PageState::EndingUnresponsive &&
            current != PageState::Resting && !showsMessage(current)) {
            current = dialogRun.isStopped() ? PageState::DialogsStopped : PageState::Shown;
        }
        return;

    // The engine's error page stays while the next try waits; each failure
    // waits twice as long as the one before, up to a minute.
    case PageEvent::Failed:
        host.logPage(logevent::pageLoadFailed, "page load failed");
        retry = queue.postAfter(retryDelays.next(), [this] { handle(PageEvent::RetryDue); });
        if (!showsMessage(current)) {
            current = PageState::RetryWaiting;
        }
        return;

    // The page as shown came from the old address: it counts as failed.
    case PageEvent::ServiceMoved:
        if (current != PageState::NotLoaded && !showsMessage(current)) {
            current = PageState::RetryWaiting;
        }
        [[fallthrough]];
    // Loads the page again if its last load failed; the retry waiting for
    // its time then does nothing.
    case PageEvent::RetryDue:
        if ((current != PageState::RetryWaiting && current != PageState::Retrying) ||
            !pageRequest || !host.pageIsUsable()) {
            return;
        }
        retry.reset();
        load(PageState::Retrying);
        return;

    case PageEvent::ProcessCrashed:
        unresponsiveDeadline.reset();
        if (!host.pageIsUsable() || !pageRequest) {
            return;
        }
        if (crashReloads.take(queue.now())) {
            host.logPage(logevent::webProcessReload,
                         "web process reload after termination count=" +
                             std::to_string(crashReloads.usedReloads()));
            reload(PageState::CrashReloading);
            return;
        }
        host.logPage(logevent::webProcessReloadsStopped, "web process reloads stopped");
        showMessage(PageState::CrashBudgetSpent, crashPageText);
        return;

    // Ended on purpose: the page is loaded again when it is wanted. Ended for
    // not answering, it says so; that is no crash, and the budget stays.
    case PageEvent::ProcessEnded:
        unresponsiveDeadline.reset();
        if (current == PageState::EndingUnresponsive && host.pageIsUsable()) {
            showMessage(PageState::Unresponsive, unresponsivePageText);
        }
        return;

    // A page that stops answering (a script that never returns) holds the
    // window; after a while it is ended, and the view says why.
    case PageEvent::StoppedAnswering:
        if (unresponsiveDeadline || !host.pageIsUsable()) {
            return;
        }
        unresponsiveDeadline =
            queue.postAfter(unresponsiveSeconds, [this] { handle(PageEvent::UnresponsiveDue); });
        return;

    case PageEvent::AnswersAgain:
        unresponsiveDeadline.reset();
        return;

    case PageEvent::UnresponsiveDue:
        unresponsiveDeadline.reset();
        if (!host.pageIsUsable()) {
            return;
        }
        host.logPage(logevent::webProcessUnresponsive, "web process not responding, ended");
        endProcess(PageState::EndingUnresponsive);
        return;

    case PageEvent::WindowClosed:
        restDeadline =
            queue.postAfter(hiddenSecondsBeforeRest, [this] { handle(PageEvent::RestDue); });
        return;

    // Only a page that is there rests: one that failed keeps its retries, the
    // page that says why the service's page is gone stays as it is.
    case PageEvent::RestDue:
        if (!host.pageIsUsable() || !mayRest(current)) {
            return;
        }
        host.logPage(logevent::webProcessEnded, "web process ended while the window is hidden");
        endProcess(PageState::Resting);
        return;

    case PageEvent::WindowShown:
        restDeadline.reset();
        if (current == PageState::Resting && host.pageIsUsable()) {
            reload(PageState::Loading);
        }
        return;

    // The page's process may end a few more times before reloads stop again,
    // and a page that gave way to a message is loaded anew.
    case PageEvent::UserReload:
        if (dialogRun.isShowing()) {
            // The page's script waits for the dialog and would bring the next
            // one before the reload could start: this one is answered, and so
            // are the rest until the page has loaded again.
            host.logPage(logevent::scriptDialogsStopped, "script dialogs stopped for a reload");
            handle(PageEvent::UserStoppedDialogs);
            host.dismissPageDialog();
        }
        if (!host.pageIsUsable()) {
            return;
        }
        crashReloads.reset();
        if (showsMessage(current) && pageRequest) {
            load(PageState::Loading);
        } else if (current == PageState::RetryWaiting || current == PageState::Retrying) {
            // Still a failure until a load ends well: the retry stays due.
            reload(PageState::Retrying);
        } else if (current == PageState::NotLoaded || current == PageState::EndingUnresponsive) {
            reload(current);
        } else {
            reload(PageState::Loading);
        }
        return;
    }
}

void PageLife::moveFrom(PageState from, PageState next) {
    if (current == from) {
        current = next;
    }
}

void PageLife::load(PageState next) {
    current = next;
    host.loadPageRequest(*pageRequest);
}

void PageLife::reload(PageState next) {
    current = next;
    host.pageView().reload();
}

void PageLife::showMessage(PageState next, const std::string& text) {
    current = next;
    host.pageView().showMessagePage(build::applicationName, text);
}

void PageLife::endProcess(PageState next) {
    current = next;
    host.pageView().terminateWebProcess();
}

} // namespace quorvel
