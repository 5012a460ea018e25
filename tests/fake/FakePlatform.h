#pragma once

#include "fake/TestFiles.h"
#include "platform/Platform.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::testing {

// A platform that records every call, in order, in `calls`, and lets the test
// drive time, the main queue, HTTP answers, notification answers and dialogs.
class FakePlatform final : public Platform,
                           Application,
                           MainQueue,
                           HttpClient,
                           NotificationCenter,
                           Alerts,
                           MenuBar,
                           Pasteboard,
                           Workspace,
                           Sound,
                           ProcessLauncher,
                           SystemEnvironment,
                           SystemEvents {
public:
    FakePlatform();

    // Everything the application did to the platform, e.g. "window.setTitle Quorvel".
    std::vector<std::string> calls;
    // What the platform hands the application for its log at start-up.
    std::vector<std::string> startUpNotes;
    std::vector<std::string> takeCalls();
    // Index of the first recorded call that starts with `prefix`, or -1.
    int indexOf(const std::string& prefix) const;
    int count(const std::string& prefix) const;

    // ---- manual clock and main queue ----
    double clock = 0;
    // Runs the blocks posted for now (including those they post), in order.
    void runMainQueue();
    // Moves the clock forward, firing delayed blocks and timers when due.
    void advance(double seconds);
    int liveTimerCount() const;

    // ---- HTTP ----
    struct PendingRequest {
        HttpRequest request;
        std::function<void(HttpResult)> completion;
    };
    std::deque<PendingRequest> pendingRequests;
    std::vector<HttpRequest> sentRequests;
    // Completes the oldest pending request.
    void completeRequest(HttpResult result);
    void completeRequestWithStatus(int status, std::string body = {});
    // Completes the request sent last, leaving older ones pending.
    void completeNewestRequestWithStatus(int status, std::string body = {});
    void failRequest(std::string error = "Could not connect: Connection refused");
    // Completes the oldest pending request as a program other than the
    // launched service would: without its token.
    void completeRequestFromStranger(int status, std::string body = {});
    // Answers carry the token of the newest launched service, as that
    // service would send it, unless this is false.
    bool answersCarryServiceToken = true;

    // ---- notification centre ----
    NotificationCenterDelegate* notificationDelegate = nullptr;
    std::deque<std::function<void(bool)>> pendingAuthorizations;
    std::vector<unsigned> authorizationOptions;
    struct PendingNotification {
        NotificationRequest request;
        std::function<void(std::optional<std::string>)> completion;
    };
    std::deque<PendingNotification> pendingNotifications;
    std::vector<NotificationRequest> addedNotifications;
    void answerAuthorization(bool granted);
    void answerNotification(std::optional<std::string> error = std::nullopt);

    // ---- dialogs ----
    std::vector<AlertSpec> shownAlerts;
    // Answers for the next dialogs, in order; 1000 with the field untouched when empty.
    std::deque<AlertResult> alertAnswers;
    // Runs while a dialog is open, as the user would act meanwhile.
    std::function<void(const AlertSpec&)> whileAlertOpen;
    int openAlerts = 0;
    bool newestAlertDismissed = false;

    // ---- menus ----
    std::optional<Menu> mainMenu;
    std::optional<Menu> statusMenu;
    std::function<void()> statusItemPrimaryAction;
    // The item's name, icon and status as the application last set them.
    std::string statusItemName;
    StatusIcon statusItemIcon = StatusIcon::Normal;
    StatusItemStatus statusItemStatus = StatusItemStatus::Active;
    // The window is on screen and focused; bringing it to the front makes it so.
    bool windowActive = false;

    // ---- clipboard ----
    std::optional<std::string> clipboard = std::string("previous");

    // ---- processes and environment ----
    std::filesystem::path dataDirectory = "/home/user/.local/share";
    std::filesystem::path downloadsDirectory = "/home/user/Downloads";
    std::string home = "/home/user";
    std::filesystem::path configDirectory = "/home/user/.config";
    std::filesystem::path executable = "/usr/bin/quorvel";
    std::map<std::string, std::string> environmentVariables = {{"PATH", "/usr/bin:/bin"}};
    std::optional<std::filesystem::path> serverScript =
        std::filesystem::path("/opt/quorvel/web/server.js");
    std::set<std::string> executableFiles = {"/usr/bin/node"};
    std::optional<std::string> launchError;
    std::vector<ProcessSpec> launchedProcesses;
    // Ends the child launched last, as the system would report it.
    void exitNewestProcess(ProcessExit how = ProcessExit{1, std::nullopt});
    // The token and the proof the newest launched service was given, or empty.
    std::string serviceToken() const;
    std::string serviceProof() const;
    // Loopback ports other programs hold.
    std::set<int> takenPorts;
    // Cookies the web view stored, "URL NAME=VALUE".
    std::vector<std::string> storedCookies;

    // ---- system events ----
    SystemEventsDelegate* systemEventsDelegate = nullptr;

    // ---- web view delegates, as set by the application ----
    WebViewNavigationDelegate* navigationDelegate = nullptr;
    WebViewUIDelegate* uiDelegate = nullptr;
    ApplicationDelegate* applicationDelegate = nullptr;
    WindowDelegate* windowDelegate = nullptr;
    bool terminating = false;
    // The command line asked to start without showing the window.
    bool background = false;
    // Simulates a page load that finished (or failed).
    void finishNavigation();
    void failNavigation();

    // Platform
    Application& application() override { return *this; }
    MainQueue& mainQueue() override { return *this; }
    HttpClient& httpClient() override { return *this; }
    NotificationCenter& notificationCenter() override { return *this; }
    Alerts& alerts() override { return *this; }
    MenuBar& menuBar() override { return *this; }
    Pasteboard& pasteboard() override { return *this; }
    Workspace& workspace() override { return *this; }
    Sound& sound() override { return *this; }
    ProcessLauncher& processLauncher() override { return *this; }
    const SystemEnvironment& environment() override { return *this; }
    SystemEvents& systemEvents() override { return *this; }
    std::vector<std::string> takeStartUpNotes() override { return std::exchange(startUpNotes, {}); }
    WebView& createWebView() override;
    Window& createWindow(int contentWidth, int contentHeight, const WindowStyle& style) override;

private:
    // Holds the data folder, unless a test puts it elsewhere.
    testing::TemporaryFolder scratch{"fake"};

    struct Scheduled {
        double due;
        long sequence;
        std::function<void()> block;
        int timerId = 0;
        double interval = 0; // 0 for a block that runs once
    };
    std::vector<Scheduled> scheduled;
    std::deque<std::function<void()>> posted;
    long nextSequence = 0;
    int nextTimerId = 1;
    int nextDelayId = 1;
    std::set<int> liveTimers;
    // Delayed blocks not yet run whose handles are still held.
    std::set<int> liveDelays;
    // Exit callbacks of launched children, by launch; empty once the child
    // has exited or its handle is gone.
    std::vector<std::shared_ptr<std::function<void(const ProcessExit&)>>> exitCallbacks;
    // What the platform made, for as long as it lasts.
    std::vector<std::unique_ptr<WebView>> webViews;
    std::vector<std::unique_ptr<Window>> windows;
    class FakeTimer;
    class FakeWebView;
    class FakeWindow;
    class FakeStatusItem;
    class FakeChildProcess;
    // Records `call` and keeps what the application handed over where the test reads it.
    template <class Slot, class Value> void record(std::string call, Slot& slot, Value value) {
        calls.push_back(std::move(call));
        slot = std::move(value);
    }

    // Application
    void setDelegate(ApplicationDelegate* delegate) override;
    void activate() override { calls.push_back("application.activate"); }
    // Returns at once: the test drives the main queue itself.
    int run() override {
        calls.push_back("application.run");
        return 0;
    }
    void terminate() override;
    bool isTerminating() const override { return terminating; }
    bool startsInBackground() const override { return background; }
    // MainQueue
    void post(std::function<void()> block) override;
    std::unique_ptr<Timer> postAfter(double seconds, std::function<void()> block) override;
    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds,
                                                  std::function<void()> block) override;
    double now() const override { return clock; }
    // HttpClient
    void send(const HttpRequest& request, std::function<void(HttpResult)> completion) override;
    void dropConnections() override;
    // NotificationCenter
    void setDelegate(NotificationCenterDelegate* delegate) override;
    void requestAuthorization(unsigned options, std::function<void(bool)> completion) override;
    void add(const NotificationRequest& request,
             std::function<void(std::optional<std::string>)> completion) override;
    // Alerts
    AlertResult runModal(const AlertSpec& details) override;
    void dismissNewest() override;
    // MenuBar
    void setMainMenu(const Menu& menu) override;
    std::unique_ptr<StatusItem> createSquareStatusItem() override;
    // Pasteboard, Workspace, Sound
    void clearContents() override;
    void setString(const std::string& text) override;
    void openFile(const std::filesystem::path& path) override;
    void openURL(const std::string& url) override;
    void beep() override;
    // ProcessLauncher
    LaunchResult launch(const ProcessSpec& details,
                        std::function<void(const ProcessExit&)> exited) override;
    // SystemEvents
    void setDelegate(SystemEventsDelegate* delegate) override;
    // SystemEnvironment
    std::filesystem::path userDataDirectory() const override { return dataDirectory; }
    std::filesystem::path downloadDirectory() const override { return downloadsDirectory; }
    std::string homeDirectory() const override { return home; }
    std::filesystem::path userConfigDirectory() const override { return configDirectory; }
    std::filesystem::path executablePath() const override { return executable; }
    std::map<std::string, std::string> processEnvironment() const override {
        return environmentVariables;
    }
    std::optional<std::filesystem::path> resourcePath(const std::string& folder,
                                                      const std::string& name) const override;
    bool loopbackPortIsFree(int port) const override { return !takenPorts.contains(port); }
    bool isExecutableFile(const std::filesystem::path& path) const override;
};

} // namespace quorvel::testing
