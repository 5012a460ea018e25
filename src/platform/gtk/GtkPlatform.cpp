#include "platform/gtk/GtkPlatform.h"

#include "BuildConfig.h"
#include "platform/gtk/DBusNotificationCenter.h"
#include "platform/gtk/GioSystemEvents.h"
#include "platform/gtk/GlibMainQueue.h"
#include "platform/gtk/GtkAlerts.h"
#include "platform/gtk/GtkDesktopServices.h"
#include "platform/gtk/GtkMainWindow.h"
#include "platform/gtk/GtkMenuBar.h"
#include "platform/gtk/GtkmmApplication.h"
#include "platform/gtk/LinuxSystemEnvironment.h"
#include "platform/gtk/PosixProcessLauncher.h"
#include "platform/gtk/SoupHttpClient.h"
#include "platform/gtk/StatusIcons.h"
#include "platform/gtk/WebEngine.h"
#include "platform/gtk/WebKitPageView.h"

#include <memory>
#include <sigc++/functors/mem_fun.h>
#include <utility>
#include <vector>

namespace quorvel::gtk {

namespace {

// Each service gets what it depends on as constructor arguments, so it comes
// after them and goes before them; what calls back into another service is
// bound to it (sigc::trackable) and ends with it.
class GtkPlatform final : public Platform {
public:
    explicit GtkPlatform(std::vector<std::string> arguments)
        : app(build::applicationId, std::move(arguments), engine), queue(makeGlibMainQueue()),
          http(makeSoupHttpClient()), notifications(makeDBusNotificationCenter(sigc::mem_fun(
                                          app, &GtkmmApplication::notificationWasClicked))),
          dialogs(makeGtkAlerts(app)), systemEnvironment(makeLinuxSystemEnvironment()),
          menus(app.gtkApplication(), build::applicationName,
                findStatusIconTheme(*systemEnvironment)),
          launcher(makePosixProcessLauncher()), events(makeGioSystemEvents()) {}

    Application& application() override { return app; }
    MainQueue& mainQueue() override { return *queue; }
    HttpClient& httpClient() override { return *http; }
    NotificationCenter& notificationCenter() override { return *notifications; }
    Alerts& alerts() override { return *dialogs; }
    MenuBar& menuBar() override { return menus; }
    Pasteboard& pasteboard() override { return desktop; }
    Workspace& workspace() override { return desktop; }
    Sound& sound() override { return desktop; }
    ProcessLauncher& processLauncher() override { return *launcher; }
    SystemEvents& systemEvents() override { return *events; }
    const SystemEnvironment& environment() override { return *systemEnvironment; }

    std::vector<std::string> takeStartUpNotes() override {
        std::vector<std::string> notes;
        if (auto note = engine.takeNote()) {
            notes.push_back(std::move(*note));
        }
        return notes;
    }

    WebView& createWebView() override {
        return *pages.emplace_back(std::make_unique<WebKitPageView>(engine));
    }

    // The application's one window, which dialogs and notification clicks
    // look for.
    Window& createWindow(int contentWidth, int contentHeight, const WindowStyle& style) override {
        GtkMainWindow& window = app.createMainWindow(contentWidth, contentHeight, style);
        menus.refreshChecksWhenMenusOpen(window.gtkWindow());
        return window;
    }

private:
    // Made first, so that its sandbox trial runs while the toolkit starts.
    WebEngine engine;
    // The views outlast the window that shows them.
    std::vector<std::unique_ptr<WebKitPageView>> pages;
    GtkmmApplication app;
    std::unique_ptr<MainQueue> queue;
    std::unique_ptr<HttpClient> http;
    std::unique_ptr<NotificationCenter> notifications;
    std::unique_ptr<ModalAlerts> dialogs;
    std::unique_ptr<SystemEnvironment> systemEnvironment;
    GtkMenuBar menus;
    GtkDesktopServices desktop;
    std::unique_ptr<ProcessLauncher> launcher;
    std::unique_ptr<SystemEvents> events;
};

} // namespace

std::unique_ptr<Platform> makeGtkPlatform(std::vector<std::string> arguments) {
    return std::make_unique<GtkPlatform>(std::move(arguments));
}

} // namespace quorvel::gtk
