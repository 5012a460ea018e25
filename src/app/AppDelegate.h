#pragma once

#include "BuildConfig.h"
#include "platform/Platform.h"
#include "service/NotificationRecords.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace quorvel {

// The whole application: its state, start-up and shut-down, and every command.
// It is the application's delegate, the web view's navigation and dialog
// delegate, and the notification centre's delegate. Owned by a shared_ptr:
// callbacks that may outlive a call hold it weakly unless stated otherwise.
class AppDelegate : public std::enable_shared_from_this<AppDelegate>,
                    public ApplicationDelegate,
                    public WebViewNavigationDelegate,
                    public WebViewUIDelegate,
                    public NotificationCenterDelegate {
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
    void reloadWebView();
    void showMainWindow();

    // Commands.
    void openConfigFile();
    void openDataFolder();
    void copyAppURL();
    void syncQuotes();
    void testDesktopNotification();
    void checkDesktopNotificationsNow();
    void showAbout();

    // The page's script dialogs.
    void runJavaScriptAlertPanel(const std::string& message,
                                 const std::function<void()>& completion) override;
    void runJavaScriptConfirmPanel(const std::string& message,
                                   const std::function<void(bool)>& completion) override;
    void runJavaScriptTextInputPanel(
        const std::string& prompt, const std::optional<std::string>& defaultText,
        const std::function<void(std::optional<std::string>)>& completion) override;

    // Notification centre.
    void willPresentNotification(const std::string& identifier,
                                 const std::function<void(unsigned)>& completion) override;
    void didReceiveNotificationResponse(const std::string& identifier,
                                        const std::function<void()>& completion) override;

    // Start-up steps.
    void createSupportFiles();
    void createMenu();
    void createStatusItem();
    void startServer();
    std::optional<std::string> findNodeExecutable() const;
    void createWindow();
    void loadAppWhenReady(int attempt = 0);

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

    // Desktop notifications.
    void prepareDesktopNotifications();
    void requestNotificationPermission(std::function<void(bool granted)> completion);
    void startDesktopNotificationPolling();
    void pollDesktopNotifications(bool showEmptyResult = false);
    void deliverDesktopNotification(const DesktopNotification& notification,
                                    std::function<void(bool delivered)> completion);
    void enqueueLocalNotification(const std::string& id, const std::string& title,
                                  const std::string& body,
                                  std::function<void(bool success)> completion);
    static std::string trimmedNotificationText(const std::string& text, std::size_t limit);
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

private:
    Platform& platform;

    std::unique_ptr<Window> window;
    std::unique_ptr<WebView> webView;
    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<ChildProcess> serverProcess;
    std::unique_ptr<Timer> notificationTimer;
    std::atomic<bool> isPollingNotifications{false};
    std::atomic<bool> systemNotificationsAllowed{false};
    bool didPrepareDesktopNotifications = false;
    std::optional<std::filesystem::path> appSupport;
    std::optional<std::filesystem::path> logFile;
    const std::string port;
    const bool useCloudBackend;
    const std::string cloudBaseURL;

    // Ids whose delivery or acknowledgement has not finished yet, with how
    // many of each are under way. A poll that finds one of them still listed
    // leaves it alone instead of showing it a second time.
    std::mutex deliveriesMutex;
    std::map<std::string, int> deliveriesInFlight;
    void beginDelivery(const std::string& id);
    void endDelivery(const std::string& id);
    std::set<std::string> deliveriesUnderWay();

    // True while the window and its web view exist and shut-down has not
    // begun. The status item's menu works from the start (also while the
    // fatal alert of a failed launch is open) and callbacks may still arrive
    // once the application is quitting: whatever would show the window or
    // touch the page does nothing outside this span.
    bool windowIsUsable() const;
};

} // namespace quorvel
