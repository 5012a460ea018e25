#pragma once

#include "BuildConfig.h"
#include "app/Backoff.h"
#include "notifications/AlertHealth.h"
#include "notifications/DeliveriesUnderWay.h"
#include "platform/Platform.h"
#include "service/NotificationRecords.h"
#include "ui/PageLife.h"

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The whole application: its state, start-up and shut-down, and every command.
// It is the application's delegate, the web view's navigation and dialog
// delegate, and the notification centre's delegate. Owned by a shared_ptr:
// callbacks that may outlive a call hold it weakly, so that it goes as soon as
// its owner lets go of it, before the platform it uses.
class AppDelegate : public std::enable_shared_from_this<AppDelegate>,
                    public ApplicationDelegate,
                    public WebViewNavigationDelegate,
                    public WebViewUIDelegate,
                    public NotificationCenterDelegate,
                    public SystemEventsDelegate,
                    public WindowDelegate,
                    private PageHost {
public:
    using DesktopNotification = quorvel::DesktopNotification;
    using DesktopNotificationsResponse = quorvel::DesktopNotificationsResponse;

    // The backend settings are constants of the build; tests may choose
    // others, including the local server's port.
    explicit AppDelegate(Platform& platform, bool useCloudBackend = build::useCloudBackend,
                         std::string cloudBaseURL = build::cloudBaseURL,
                         std::string port = "45721");
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Application events.
    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    void applicationDidBecomeActive() override;

    // Window and web view.
    void webViewDidFinishNavigation() override;
    void webViewDidFailNavigation() override;
    bool webViewShouldAcceptResponse(
        const std::vector<std::pair<std::string, std::string>>& headers) override;
    void webViewWebContentProcessDidTerminate(WebProcessTermination reason) override;
    void reloadWebView();

    // What the page may do: where it goes, its downloads, the engine's prompts.
    bool webViewShouldStartNavigation(const NavigationAction& action) override;
    void webViewDidCommitNavigation() override;
    void webViewWebContentProcessResponsivenessChanged(bool responsive) override;
    void webViewDidRefuseAuthentication(const std::string& url) override;
    bool webViewShouldAllowDownload(const std::string& url) override;
    std::optional<std::filesystem::path>
    webViewDownloadDestination(const std::string& url, const std::string& suggestedName) override;
    void webViewDownloadDidFinish(const std::filesystem::path& destination) override;
    void webViewDownloadDidFail(const std::filesystem::path& destination,
                                const std::string& error) override;
    void showMainWindow();
    void windowDidClose() override;
    void windowDidShow() override;

    // The machine around the application.
    void networkDidChange() override;
    void systemDidResume() override;

    // Commands.
    void openConfigFile();
    void openDataFolder();
    void copyAppURL();
    void syncQuotes();
    void testDesktopNotification();
    void checkDesktopNotificationsNow();
    void showAbout();
    // The autostart entry that starts the shell in the background at login.
    bool startsAtLogin() const;
    void toggleStartAtLogin();

    // The page's script dialogs.
    void runJavaScriptAlertPanel(const std::string& message,
                                 const std::function<void()>& completion) override;
    void runJavaScriptConfirmPanel(const std::string& message,
                                   const std::function<void(bool)>& completion) override;
    void runJavaScriptTextInputPanel(
        const std::string& prompt, const std::optional<std::string>& defaultText,
        const std::function<void(std::optional<std::string>)>& completion) override;

    // Notification centre.
    void didReceiveNotificationResponse(const std::string& identifier,
                                        const std::function<void()>& completion) override;
    void notificationServerDidAppear() override;

    // Start-up steps.
    void createSupportFiles();
    void createMenu();
    void createStatusItem();
    void startServer();
    std::optional<std::string> findNodeExecutable() const;
    // The bundled service's child ended; unless quitting it is started again.
    void serverProcessDidExit(const ProcessExit& how);
    void createWindow();
    void loadAppWhenReady(int attempt = 0);
    // The next start-up probe of the local service.
    std::unique_ptr<Timer> probeRetry;

    // Service addresses.
    std::string appBaseURL() const;
    std::string localURL() const;
    // No value when the path forms no URL.
    std::optional<std::string> apiURL(const std::string& path) const;

    // Alerts.
    void showTransientAlert(const std::string& message);
    void showFatalAlert(const std::string& message);

    // Service API client and diagnostic log.
    void getAPI(
        const std::string& path,
        std::function<void(std::optional<std::string> body, std::optional<int> status)> completion);
    void postAPI(const std::string& path, std::function<void(bool success)> completion);
    void log(const std::string& message) const;
    // A line that starts with one of the keys of service/LogEvents.h.
    void log(std::string_view event, const std::string& message) const;

    // Desktop notifications.
    void prepareDesktopNotifications();
    // Asks for the permission and records the answer; `then` runs with it
    // while the application lives.
    void requestNotificationPermission(std::function<void(AppDelegate& self, bool granted)> then);
    void startDesktopNotificationPolling();
    void pollDesktopNotifications(bool showEmptyResult = false);
    void deliverDesktopNotification(const DesktopNotification& notification,
                                    std::function<void(bool delivered)> completion);
    void enqueueLocalNotification(const std::string& id, const std::string& title,
                                  const std::string& body,
                                  std::function<void(bool success)> completion);
    // Shows the fallback for an alert: at once, or once the fallback dialog
    // that is open has been answered.
    void showFallbackNotification(const std::string& title, const std::string& body);
    // Queues the fallback for a record; false when no window can show it.
    bool queueFallback(const DesktopNotification& notification);

    // Read access for the program entry and for tests.
    const std::optional<std::filesystem::path>& dataFolder() const { return appSupport; }
    const std::optional<std::filesystem::path>& logFilePath() const { return logFile; }
    bool hasServerProcess() const { return serverProcess != nullptr; }
    bool hasNotificationTimer() const { return notificationTimer != nullptr; }
    bool notificationsAllowed() const { return systemNotificationsAllowed.load(); }
    bool pollInFlight() const { return isPollingNotifications.load(); }
    bool preparedDesktopNotifications() const { return didPrepareDesktopNotifications; }
    const std::string& serviceToken() const { return serviceTokenValue; }
    const std::string& serviceProof() const { return serviceProofValue; }
    // The port the local service was told to listen on.
    const std::string& servicePort() const { return port; }

private:
    void answerFromPollInFlight();

    std::optional<AlertResult> runPageDialog(AlertSpec details, const std::string& kind);
    // Downloads under way: where each is written, and the name it is to have.
    std::map<std::filesystem::path, std::string> downloadNames;
    std::string takeDownloadName(const std::filesystem::path& destination);
    static bool isDownloadNotification(const std::string& identifier);
    void openDownloadFolder();

    Platform& platform;

    // The platform's, once made; they outlast this object.
    Window* window = nullptr;
    WebView* webView = nullptr;
    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<ChildProcess> serverProcess;
    std::unique_ptr<Timer> notificationTimer;
    std::atomic<bool> isPollingNotifications{false};
    // A check command that met a poll in flight; that poll answers it.
    std::atomic<bool> checkWaitsOnPoll{false};
    std::atomic<bool> systemNotificationsAllowed{false};
    bool didPrepareDesktopNotifications = false;
    std::optional<std::filesystem::path> appSupport;
    std::optional<std::filesystem::path> logFile;
    // The local service's first port, and the one it listens on: the first
    // of the ports from there that no other program holds.
    const std::string firstPort;
    std::string port;
    const bool useCloudBackend;
    const std::string cloudBaseURL;

    // The service's page in the window, from its first load on.
    PageLife page{platform.mainQueue(), *this};
    bool pageIsUsable() const override { return windowIsUsable(); }
    WebView& pageView() override { return *webView; }
    void loadPageRequest(const PageRequest& request) override;
    void logPage(std::string_view event, const std::string& message) const override {
        log(event, message);
    }
    void dismissPageDialog() override { platform.alerts().dismissNewest(); }

    // The bundled service: how it is started, every time, and how it fares.
    // What every request to the local service carries, and what each of its
    // answers carries back; both new at each launch of the shell.
    std::string serviceTokenValue;
    std::string serviceProofValue;
    ProcessSpec serverSpec;
    // The first port from firstPort that no other program holds.
    std::optional<std::string> chooseServicePort() const;
    // The child found its port taken: it starts again on the next free one.
    bool moveServiceToFreePort();
    // Adds the token to a request for the local service.
    void authorize(HttpRequest& request) const;
    // The load that waits for the token to be put where the page's requests
    // pick it up; a later load takes its place.
    std::shared_ptr<const PageRequest> loadAwaitingCookie;
    // What "复制服务地址" copies.
    std::string loginURL() const;
    double serverStartedAt = 0;
    Backoff serverRestartDelays{1.0, 30.0};
    std::unique_ptr<Timer> serverRestart;
    // The next question to a restarted child whether it answers.
    std::unique_ptr<Timer> restartProbe;
    // When the service stopped answering, while it has not answered again.
    std::optional<double> serviceDownSince;
    // Tells the user once the service has been silent too long.
    std::unique_ptr<Timer> serviceDownNotice;
    // A fatal alert is open or was answered: the application is ending.
    bool startUpFailed = false;
    std::optional<std::string> launchServer();
    void scheduleServerRestart();
    void restartServer();
    void watchRestartedServer();
    void serviceDidAnswerAgain();
    void reportServiceDown();
    // The watchdog: a child that answers nothing for a minute while it runs
    // is ended, and supervision starts the next one.
    double serviceLastAnsweredAt = 0;
    // Set once the watchdog asked the running child to end: the kill follows.
    std::unique_ptr<Timer> serverKillDeadline;
    void noteServiceAnswer(bool answered);
    // Whether an answer comes from the service this application started
    // (always, with the cloud service).
    bool comesFromOwnService(const std::vector<std::pair<std::string, std::string>>& headers) const;
    // Notes whether the service answered `request` ("GET /path"); an answer
    // from another program is logged as a failure and must not be used.
    bool acceptsAnswer(const std::string& request, const HttpResult& result);
    // The local service is asked nothing before it has answered the start-up
    // probe as the service started here: whatever else holds its port hears
    // nothing from the shell but the probe.
    bool ownServiceAnswered = false;
    bool serviceMayBeAsked() const { return useCloudBackend || ownServiceAnswered; }

    // Fallback dialogs wait here while one is open: never one inside another.
    std::deque<std::pair<std::string, std::string>> waitingFallbacks;
    bool fallbackOpen = false;

    DeliveriesUnderWay deliveries;

    // Whether alerts arrive, and how many arrived while the user looked
    // elsewhere; the status item shows both.
    AlertHealth alertHealth;
    unsigned unseenAlerts = 0;
    struct StatusItemState {
        std::string title = build::applicationName;
        StatusIcon icon = StatusIcon::Normal;
        StatusItemStatus status = StatusItemStatus::Active;
        bool operator==(const StatusItemState&) const = default;
    } shownStatus;
    // Takes the outcome of one poll of the pending list.
    void notePollOutcome(bool listArrived, std::optional<int> status);
    void tellAlertFlow(AlertFlowNotice notice);
    void noteAlertDelivered();
    void clearUnseenAlerts();
    void showAlertState();

    // True while the window and its web view exist and shut-down has not
    // begun. The status item's menu works from the start (also while the
    // fatal alert of a failed launch is open) and callbacks may still arrive
    // once the application is quitting: whatever would show the window or
    // touch the page does nothing outside this span.
    bool windowIsUsable() const;
};

} // namespace quorvel
