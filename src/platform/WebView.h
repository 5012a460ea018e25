#pragma once

#include "platform/Interface.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

enum class CachePolicy {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
};

struct PageRequest {
    std::string url;
    CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
    double timeoutSeconds = 60.0;
};

// Why the page's web process ended.
enum class WebProcessTermination {
    Crashed,
    ExceededMemoryLimit,
    // The application asked for it.
    RequestedByApplication,
};

// A navigation of the page's main frame, or a new window the page asks for.
struct NavigationAction {
    std::string url;
    // The user started it: a click, the keyboard, the context menu.
    bool userInitiated = false;
    // The page asked for a new window (a link's target, window.open).
    bool newWindow = false;
};

// Facts the web view reports about navigations and the page's process.
struct WebViewNavigationDelegate : Interface {
    // A navigation finished without failing.
    virtual void webViewDidFinishNavigation() = 0;
    // A navigation failed, or got no answer within its time-out; the engine
    // shows its error page. A load stopped because another one replaced it
    // is not reported.
    virtual void webViewDidFailNavigation() = 0;
    // The page's answer for a navigation of the main frame has arrived with
    // these header fields (names as the server sent them). False refuses it:
    // nothing of it is shown, and the navigation fails.
    virtual bool webViewShouldAcceptResponse(
        const std::vector<std::pair<std::string, std::string>>& headers) = 0;
    // The process that runs the page ended; the view shows nothing until
    // the next load.
    virtual void webViewWebContentProcessDidTerminate(WebProcessTermination reason) = 0;

    // Asked before any frame of the page (the engine tells frames apart no
    // further) loads an address, the application's own loads included, and
    // for each new window the page asks for. True loads it in this view (a new
    // window's address too); false requests nothing.
    virtual bool webViewShouldStartNavigation(const NavigationAction&) { return true; }
    // A load's first answer replaced the page that was shown.
    virtual void webViewDidCommitNavigation() {}
    // The page's process stopped answering, or answers again.
    virtual void webViewWebContentProcessResponsivenessChanged(bool /*responsive*/) {}
    // A server asked for HTTP authentication. The view never answers such a
    // challenge: the page shows the server's answer to the request without it.
    virtual void webViewDidRefuseAuthentication(const std::string& /*url*/) {}

    // The page started a download of `url`; false cancels it before anything
    // is written.
    virtual bool webViewShouldAllowDownload(const std::string& /*url*/) { return false; }
    // Where the download is written while it runs, a path that does not exist
    // yet; no value cancels it.
    virtual std::optional<std::filesystem::path>
    webViewDownloadDestination(const std::string& /*url*/, const std::string& /*suggestedName*/) {
        return std::nullopt;
    }
    // The download is complete at its destination.
    virtual void webViewDownloadDidFinish(const std::filesystem::path& /*destination*/) {}
    // The download failed or was cancelled after it got its destination.
    virtual void webViewDownloadDidFail(const std::filesystem::path& /*destination*/,
                                        const std::string& /*error*/) {}
};

// The page's script dialogs. Each completion must be called exactly once,
// before the method returns; the page's script waits for it.
struct WebViewUIDelegate : Interface {
    virtual void runJavaScriptAlertPanel(const std::string& message,
                                         const std::function<void()>& completion) = 0;
    virtual void runJavaScriptConfirmPanel(const std::string& message,
                                           const std::function<void(bool)>& completion) = 0;
    virtual void runJavaScriptTextInputPanel(
        const std::string& prompt, const std::optional<std::string>& defaultText,
        const std::function<void(std::optional<std::string>)>& completion) = 0;
};

// The embedded web view, created with the engine's default settings.
struct WebView : Interface {
    virtual void setNavigationDelegate(WebViewNavigationDelegate* delegate) = 0;
    virtual void setUIDelegate(WebViewUIDelegate* delegate) = 0;
    virtual void load(const PageRequest& request) = 0;
    virtual void reload() = 0;
    // Shows a page of the application's own with this text instead of the
    // service's page. Its load reports nothing to the navigation delegate.
    virtual void showMessagePage(const std::string& title, const std::string& text) = 0;
    // Ends the page's process, which gives its memory back; the end is
    // reported as asked for by the application, and the next load or reload
    // starts a new process.
    virtual void terminateWebProcess() = 0;
    // Stores a session cookie (HttpOnly, SameSite=Strict) for the host of the
    // URL in the view's cookie store, which every later request of the page
    // to that host carries; `done` runs on the main loop once it is stored.
    virtual void setCookie(const std::string& url, const std::string& name,
                           const std::string& value, std::function<void()> done) = 0;
};

} // namespace quorvel
