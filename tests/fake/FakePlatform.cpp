#include "fake/FakePlatform.h"

#include <algorithm>
#include <stdexcept>

namespace quorvel::testing {

namespace {
std::string cachePolicyName(CachePolicy policy) {
    return policy == CachePolicy::ReloadIgnoringLocalCacheData ? "1" : "0";
}
} // namespace

class FakePlatform::FakeTimer final : public Timer {
public:
    // Delayed blocks count from -1 down, apart from the repeating timers.
    FakeTimer(FakePlatform& owner, int timerId) : platform(owner), id(timerId) {}
    ~FakeTimer() override { forget(); }
    void invalidate() override {
        if (id > 0) {
            platform.calls.push_back("timer.invalidate " + std::to_string(id));
        }
        forget();
    }

private:
    void forget() { (id > 0 ? platform.liveTimers : platform.liveDelays).erase(id); }
    FakePlatform& platform;
    int id;
};

class FakePlatform::FakeWebView final : public WebView {
public:
    explicit FakeWebView(FakePlatform& owner) : platform(owner) {}
    void setNavigationDelegate(WebViewNavigationDelegate* delegate) override {
        platform.record("webView.setNavigationDelegate", platform.navigationDelegate, delegate);
    }
    void setUIDelegate(WebViewUIDelegate* delegate) override {
        platform.record("webView.setUIDelegate", platform.uiDelegate, delegate);
    }
    void load(const PageRequest& request) override {
        platform.calls.push_back("webView.load " + request.url +
                                 " cache=" + cachePolicyName(request.cachePolicy) +
                                 " timeout=" + std::to_string(int(request.timeoutSeconds)));
    }
    void reload() override { platform.calls.push_back("webView.reload"); }
    void showMessagePage(const std::string& title, const std::string& text) override {
        platform.calls.push_back("webView.showMessagePage " + title + " " + text);
    }
    void terminateWebProcess() override { platform.calls.push_back("webView.terminateWebProcess"); }
    void setCookie(const std::string& url, const std::string& name, const std::string& value,
                   std::function<void()> done) override {
        platform.storedCookies.push_back(url + " " + name + "=" + value);
        done();
    }

private:
    FakePlatform& platform;
};

class FakePlatform::FakeWindow final : public Window {
public:
    explicit FakeWindow(FakePlatform& owner) : platform(owner) {}
    void setDelegate(WindowDelegate* delegate) override {
        platform.record("window.setDelegate", platform.windowDelegate, delegate);
    }
    void setTitle(const std::string& title) override {
        platform.calls.push_back("window.setTitle " + title);
    }
    void center() override { platform.calls.push_back("window.center"); }
    void setContentView(WebView&) override { platform.calls.push_back("window.setContentView"); }
    void makeKeyAndOrderFront() override {
        platform.record("window.makeKeyAndOrderFront", platform.windowActive, true);
    }
    bool isActive() const override { return platform.windowActive; }

private:
    FakePlatform& platform;
};

class FakePlatform::FakeStatusItem final : public StatusItem {
public:
    explicit FakeStatusItem(FakePlatform& owner) : platform(owner) {}
    void setMenu(const Menu& menu) override {
        platform.record("statusItem.setMenu", platform.statusMenu, menu);
    }
    void setPrimaryAction(std::function<void()> action) override {
        platform.statusItemPrimaryAction = std::move(action);
    }
    void setTitle(const std::string& title) override {
        platform.record("statusItem.setTitle " + title, platform.statusItemName, title);
    }
    void setIcon(StatusIcon icon) override {
        platform.record(std::string("statusItem.setIcon ") +
                            (icon == StatusIcon::Paused ? "paused" : "normal"),
                        platform.statusItemIcon, icon);
    }
    void setStatus(StatusItemStatus status) override {
        platform.record(std::string("statusItem.setStatus ") +
                            (status == StatusItemStatus::NeedsAttention ? "attention" : "active"),
                        platform.statusItemStatus, status);
    }

private:
    FakePlatform& platform;
};

class FakePlatform::FakeChildProcess final : public ChildProcess {
public:
    FakeChildProcess(FakePlatform& owner,
                     std::shared_ptr<std::function<void(const ProcessExit&)>> exitCallback)
        : platform(owner), exited(std::move(exitCallback)) {}
    // Once the handle is gone, the child's end is reported to nobody.
    ~FakeChildProcess() override { *exited = nullptr; }
    void terminate() override { platform.calls.push_back("process.terminate"); }
    void kill() override { platform.calls.push_back("process.kill"); }

private:
    FakePlatform& platform;
    std::shared_ptr<std::function<void(const ProcessExit&)>> exited;
};

FakePlatform::FakePlatform() {
    dataDirectory = scratch.path() / "share";
}

std::vector<std::string> FakePlatform::takeCalls() {
    return std::exchange(calls, {});
}

int FakePlatform::indexOf(const std::string& prefix) const {
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].starts_with(prefix)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int FakePlatform::count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(
        calls.begin(), calls.end(), [&](const std::string& c) { return c.starts_with(prefix); }));
}

void FakePlatform::runMainQueue() {
    while (!posted.empty()) {
        auto block = std::move(posted.front());
        posted.pop_front();
        block();
    }
}

void FakePlatform::advance(double seconds) {
    const double target = clock + seconds;
    runMainQueue();
    for (;;) {
        auto next = std::min_element(scheduled.begin(), scheduled.end(), [](auto& a, auto& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
        if (next == scheduled.end() || next->due > target + 1e-9) {
            break;
        }
        Scheduled entry = std::move(*next);
        scheduled.erase(next);
        clock = entry.due;
        if (entry.interval == 0) {
            if (liveDelays.erase(entry.timerId) == 0) {
                continue;
            }
        } else {
            if (!liveTimers.contains(entry.timerId)) {
                continue;
            }
            calls.push_back("timer.fire " + std::to_string(entry.timerId));
            scheduled.push_back(Scheduled{clock + entry.interval, nextSequence++, entry.block,
                                          entry.timerId, entry.interval});
        }
        entry.block();
        runMainQueue();
    }
    clock = target;
}

int FakePlatform::liveTimerCount() const {
    return static_cast<int>(liveTimers.size());
}

void FakePlatform::completeRequest(HttpResult result) {
    if (pendingRequests.empty()) {
        throw std::logic_error("no pending request to complete");
    }
    PendingRequest pending = std::move(pendingRequests.front());
    pendingRequests.pop_front();
    pending.completion(std::move(result));
}

namespace {
HttpResult answer(int status, std::string body, const std::string& proof) {
    HttpResult result{std::move(body), status, std::nullopt, {}};
    if (!proof.empty()) {
        result.headers.emplace_back("X-Quorvel-Service-Proof", proof);
    }
    return result;
}

std::string newestLaunchEnvironment(const std::vector<ProcessSpec>& launched,
                                    const std::string& name) {
    if (launched.empty()) {
        return {};
    }
    const auto& environment = launched.back().environment;
    const auto found = environment.find(name);
    return found == environment.end() ? std::string() : found->second;
}
} // namespace

std::string FakePlatform::serviceToken() const {
    return newestLaunchEnvironment(launchedProcesses, "QUORVEL_SERVICE_TOKEN");
}

std::string FakePlatform::serviceProof() const {
    return newestLaunchEnvironment(launchedProcesses, "QUORVEL_SERVICE_PROOF");
}

void FakePlatform::completeRequestWithStatus(int status, std::string body) {
    completeRequest(
        answer(status, std::move(body), answersCarryServiceToken ? serviceProof() : ""));
}

void FakePlatform::completeRequestFromStranger(int status, std::string body) {
    completeRequest(answer(status, std::move(body), ""));
}

void FakePlatform::completeNewestRequestWithStatus(int status, std::string body) {
    if (pendingRequests.empty()) {
        throw std::logic_error("no pending request to complete");
    }
    PendingRequest pending = std::move(pendingRequests.back());
    pendingRequests.pop_back();
    pending.completion(
        answer(status, std::move(body), answersCarryServiceToken ? serviceProof() : ""));
}

void FakePlatform::failRequest(std::string error) {
    completeRequest(HttpResult{std::nullopt, std::nullopt, std::move(error), {}});
}

void FakePlatform::answerAuthorization(bool granted) {
    if (pendingAuthorizations.empty()) {
        throw std::logic_error("no pending authorization request");
    }
    auto completion = std::move(pendingAuthorizations.front());
    pendingAuthorizations.pop_front();
    completion(granted);
}

void FakePlatform::answerNotification(std::optional<std::string> error) {
    if (pendingNotifications.empty()) {
        throw std::logic_error("no pending notification request");
    }
    PendingNotification pending = std::move(pendingNotifications.front());
    pendingNotifications.pop_front();
    pending.completion(std::move(error));
}

void FakePlatform::finishNavigation() {
    if (navigationDelegate) {
        navigationDelegate->webViewDidFinishNavigation();
    }
}

void FakePlatform::failNavigation() {
    if (navigationDelegate) {
        navigationDelegate->webViewDidFailNavigation();
    }
}

WebView& FakePlatform::createWebView() {
    calls.push_back("webView.create");
    return *webViews.emplace_back(std::make_unique<FakeWebView>(*this));
}

Window& FakePlatform::createWindow(int contentWidth, int contentHeight, const WindowStyle& style) {
    const bool all = style.titled && style.closable && style.miniaturizable && style.resizable;
    calls.push_back("window.create " + std::to_string(contentWidth) + "x" +
                    std::to_string(contentHeight) +
                    (all ? " titled,closable,miniaturizable,resizable" : " partial-style"));
    return *windows.emplace_back(std::make_unique<FakeWindow>(*this));
}

void FakePlatform::setDelegate(ApplicationDelegate* delegate) {
    record("application.setDelegate", applicationDelegate, delegate);
}

void FakePlatform::terminate() {
    calls.push_back("application.terminate");
    if (!terminating && applicationDelegate) {
        terminating = true;
        applicationDelegate->applicationWillTerminate();
    }
    terminating = true;
}

void FakePlatform::post(std::function<void()> block) {
    calls.push_back("mainQueue.post");
    posted.push_back(std::move(block));
}

std::unique_ptr<Timer> FakePlatform::postAfter(double seconds, std::function<void()> block) {
    calls.push_back("mainQueue.postAfter " + std::to_string(seconds).substr(0, 4));
    const int id = -(nextDelayId++);
    liveDelays.insert(id);
    scheduled.push_back(Scheduled{clock + seconds, nextSequence++, std::move(block), id});
    return std::make_unique<FakeTimer>(*this, id);
}

std::unique_ptr<Timer> FakePlatform::scheduleRepeatingTimer(double seconds,
                                                            std::function<void()> block) {
    const int id = nextTimerId++;
    calls.push_back("timer.schedule " + std::to_string(id) + " every " +
                    std::to_string(seconds).substr(0, 3));
    liveTimers.insert(id);
    scheduled.push_back(Scheduled{clock + seconds, nextSequence++, std::move(block), id, seconds});
    return std::make_unique<FakeTimer>(*this, id);
}

void FakePlatform::send(const HttpRequest& request, std::function<void(HttpResult)> completion) {
    calls.push_back("http.send " + request.method + " " + request.url);
    sentRequests.push_back(request);
    pendingRequests.push_back(PendingRequest{request, std::move(completion)});
}

void FakePlatform::dropConnections() {
    calls.push_back("http.dropConnections");
    auto dropped = std::exchange(pendingRequests, {});
    for (PendingRequest& pending : dropped) {
        pending.completion(HttpResult{std::nullopt, std::nullopt, "Connection dropped", {}});
    }
}

void FakePlatform::setDelegate(NotificationCenterDelegate* delegate) {
    record("notificationCenter.setDelegate", notificationDelegate, delegate);
}

void FakePlatform::requestAuthorization(unsigned options, std::function<void(bool)> completion) {
    calls.push_back("notificationCenter.requestAuthorization " + std::to_string(options));
    authorizationOptions.push_back(options);
    pendingAuthorizations.push_back(std::move(completion));
}

void FakePlatform::add(const NotificationRequest& request,
                       std::function<void(std::optional<std::string>)> completion) {
    calls.push_back("notificationCenter.add " + request.identifier);
    addedNotifications.push_back(request);
    pendingNotifications.push_back(PendingNotification{request, std::move(completion)});
}

AlertResult FakePlatform::runModal(const AlertSpec& details) {
    calls.push_back("alert " + details.messageText);
    shownAlerts.push_back(details);
    ++openAlerts;
    if (whileAlertOpen) {
        whileAlertOpen(details);
    }
    --openAlerts;
    if (std::exchange(newestAlertDismissed, false)) {
        return AlertResult{};
    }
    if (alertAnswers.empty()) {
        return AlertResult{alertFirstButtonReturn,
                           details.textField ? details.textField->text : ""};
    }
    AlertResult answer = alertAnswers.front();
    alertAnswers.pop_front();
    return answer;
}

void FakePlatform::dismissNewest() {
    record("alerts.dismissNewest", newestAlertDismissed, openAlerts > 0);
}

void FakePlatform::setMainMenu(const Menu& menu) {
    record("menuBar.setMainMenu", mainMenu, menu);
}

std::unique_ptr<StatusItem> FakePlatform::createSquareStatusItem() {
    calls.push_back("menuBar.createSquareStatusItem");
    return std::make_unique<FakeStatusItem>(*this);
}

void FakePlatform::clearContents() {
    calls.push_back("pasteboard.clearContents");
    clipboard.reset();
}

void FakePlatform::setString(const std::string& text) {
    record("pasteboard.setString " + text, clipboard, text);
}

void FakePlatform::openFile(const std::filesystem::path& path) {
    calls.push_back("workspace.openFile " + path.string());
}

void FakePlatform::openURL(const std::string& url) {
    calls.push_back("workspace.openURL " + url);
}

void FakePlatform::beep() {
    calls.push_back("sound.beep");
}

LaunchResult FakePlatform::launch(const ProcessSpec& details,
                                  std::function<void(const ProcessExit&)> exited) {
    calls.push_back("process.launch " + details.executable.string());
    launchedProcesses.push_back(details);
    if (launchError) {
        return LaunchResult{nullptr, *launchError};
    }
    auto callback = std::make_shared<std::function<void(const ProcessExit&)>>(std::move(exited));
    exitCallbacks.push_back(callback);
    return LaunchResult{std::make_unique<FakeChildProcess>(*this, callback), {}};
}

void FakePlatform::exitNewestProcess(ProcessExit how) {
    if (exitCallbacks.empty() || !*exitCallbacks.back()) {
        throw std::logic_error("no running child to end");
    }
    // The report comes later, on the main loop.
    post([callback = std::exchange(*exitCallbacks.back(), nullptr), how] { callback(how); });
}

void FakePlatform::setDelegate(SystemEventsDelegate* delegate) {
    record("systemEvents.setDelegate", systemEventsDelegate, delegate);
}

std::optional<std::filesystem::path> FakePlatform::resourcePath(const std::string& folder,
                                                                const std::string& name) const {
    if (folder == "web" && name == "server.js") {
        return serverScript;
    }
    return std::nullopt;
}

bool FakePlatform::isExecutableFile(const std::filesystem::path& path) const {
    return executableFiles.contains(path.string());
}

} // namespace quorvel::testing
