#pragma once

#include "app/Backoff.h"
#include "platform/Interface.h"
#include "platform/MainQueue.h"
#include "platform/WebView.h"
#include "ui/ReloadBudget.h"
#include "ui/ScriptDialogRun.h"

#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// Where the service's page stands. Which states a page moves between, and
// when, is decided in PageLife::handle alone.
enum class PageState {
    NotLoaded,          // the service has not answered yet: nothing was loaded
    Loading,            // a load is under way
    Shown,              // the page loaded
    DialogsStopped,     // the page is there, and the user stopped its script dialogs
    RetryWaiting,       // the last load failed; the next one waits for its time
    Retrying,           // the last load failed; the next one is under way
    CrashReloading,     // its process ended by itself; the page loads again
    CrashBudgetSpent,   // its process ended too often; a page says so until a refresh
    EndingUnresponsive, // its process stopped answering and is being ended
    Unresponsive,       // ended for not answering; a page says so until a refresh
    Resting,            // ended while the window was hidden; it loads when shown
};

// What happens to the page, from the engine, the window, the machine and the
// user.
enum class PageEvent {
    ServiceAnswered,   // the service answers at the page's address: the first load
    ServiceMoved,      // the service answers at another address
    Committed,         // the engine shows a new page
    Finished,          // a load ended well
    Failed,            // a load failed
    RetryDue,          // a retry's time came, the network changed or the machine woke
    ProcessCrashed,    // the page's process ended by itself (crash, memory limit)
    ProcessEnded,      // the page's process ended as the application asked
    StoppedAnswering,  // the page's process stopped answering
    AnswersAgain,      // it answers again
    UnresponsiveDue,   // it has not answered for too long
    WindowClosed,      // the window was closed (or never shown)
    RestDue,           // the window stayed closed long enough
    WindowShown,       // the window shows again
    UserReload,        // the user asked for a refresh
    UserStoppedDialogs // the user stopped the page's script dialogs
};

// What the page's life needs of the application around it.
struct PageHost : Interface {
    // The window and its web view exist and the application is not ending.
    virtual bool pageIsUsable() const = 0;
    virtual WebView& pageView() = 0;
    // Loads the request with what the service asks of the page's requests.
    virtual void loadPageRequest(const PageRequest& request) = 0;
    virtual void logPage(std::string_view event, const std::string& message) const = 0;
    // Closes the page's script dialog that is showing, as if cancelled.
    virtual void dismissPageDialog() = 0;
};

// The life of the service's page in the window: its loads, their retries,
// the reloads after its process ended and the budget for them, its rest while
// the window is hidden, the end of a page that stops answering, and its
// script dialogs' spell.
class PageLife {
public:
    PageLife(MainQueue& mainQueue, PageHost& pageHost) : queue(mainQueue), host(pageHost) {}

    // Every event of the page goes through here.
    void handle(PageEvent event);

    PageState state() const { return current; }
    const std::optional<PageRequest>& request() const { return pageRequest; }
    // The first load, once the service answers.
    void start(PageRequest request);
    // The service moved to another address: the page follows it.
    void followService(const std::string& url);
    ScriptDialogRun& dialogs() { return dialogRun; }

private:
    // Only from that state; any other stays.
    void moveFrom(PageState from, PageState next);
    void load(PageState next);
    void reload(PageState next);
    void showMessage(PageState next, const std::string& text);
    void endProcess(PageState next);

    MainQueue& queue;
    PageHost& host;
    PageState current = PageState::NotLoaded;
    // The request of the first load, which retries repeat.
    std::optional<PageRequest> pageRequest;
    Backoff retryDelays{2.0, 60.0};
    std::unique_ptr<Timer> retry;
    ReloadBudget crashReloads;
    std::unique_ptr<Timer> restDeadline;
    std::unique_ptr<Timer> unresponsiveDeadline;
    ScriptDialogRun dialogRun;
};

} // namespace quorvel
