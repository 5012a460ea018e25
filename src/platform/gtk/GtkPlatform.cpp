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
#include "platform/gtk/StatusIcons.h"
#include "platform/gtk/LinuxSystemEnvironment.h"
#include "platform/gtk/PosixProcessLauncher.h"
#include "platform/gtk/SoupHttpClient.h"
#include "platform/gtk/WebEngine.h"
#include "platform/gtk/WebKitPageView.h"

#include <memory>
#include <utility>
#include <vector>

namespace quorvel::gtk {

namespace {

class GtkPlatform final : public Platform {
public:
    explicit GtkPlatform(std::vector<std::string> arguments)
        : app(build::applicationId, std::move(arguments)), queue(makeGlibMainQueue()),
          http(makeSoupHttpClient()),
          notifications(makeDBusNotificationCenter([this] { return mainWindowIsActive(); },
                                                   [this](const std::optional<std::string>& token) {
                                                       // The window that the click brings forward.
                                                       if (auto* window = app.mainWindow()) {
                                                           window->notificationWasClicked(token);
                                                       }
                                                   })),
          dialogs(makeGtkAlerts([this]() -> Gtk::Window* {
              auto* window = app.mainWindow();
              return window ? &window->gtkWindow() : nullptr;
          })),
          systemEnvironment(makeLinuxSystemEnvironment()),
          menus(app.gtkApplication(), "Quorvel", findStatusIconTheme(*systemEnvironment)),
          clipboard(makeClipboardPasteboard()), desktop(makeDefaultHandlerWorkspace()),
          beeper(makeDisplayBeep()), launcher(makePosixProcessLauncher()),
          events(makeGioSystemEvents()) {
        // Quitting ends every open dialog, whose loops would otherwise keep
        // the event loop from ending until someone answers them.
        app.setTerminationHandler([this] { dialogs->endAll(); });
        // Only the instance that runs prepares the engine; a second start
        // hands over before start-up.
        app.setBeforeLaunching([this] {
            engineNote = engine.prepare();
            // The bundled service takes longer to start than the engine's
            // web process: that process starts while the service does, not
            // once it answers. (With the cloud service the page's load
            // starts the process at once; starting it earlier there only
            // competes with start-up for the processor.)
            if (!build::useCloudBackend) {
                engine.startEarlyWebProcess();
            }
        });
    }

    Application& application() override { return app; }
    MainQueue& mainQueue() override { return *queue; }
    HttpClient& httpClient() override { return *http; }
    NotificationCenter& notificationCenter() override { return *notifications; }
    Alerts& alerts() override { return *dialogs; }
    MenuBar& menuBar() override { return menus; }
    Pasteboard& pasteboard() override { return *clipboard; }
    Workspace& workspace() override { return *desktop; }
    Sound& sound() override { return *beeper; }
    ProcessLauncher& processLauncher() override { return *launcher; }
    SystemEvents& systemEvents() override { return *events; }
    const SystemEnvironment& environment() override { return *systemEnvironment; }

    std::vector<std::string> takeStartUpNotes() override {
        std::vector<std::string> notes;
        if (engineNote) {
            notes.push_back(*std::exchange(engineNote, std::nullopt));
        }
        return notes;
    }

    WebView& createWebView() override {
        return *pages.emplace_back(std::make_unique<WebKitPageView>(engine));
    }

    // The application's one window, which dialogs and notification clicks
    // look for.
    Window& createWindow(int contentWidth, int contentHeight, const WindowStyle& style) override {
        GtkMainWindow& window = app.createMainWindow(
            contentWidth, contentHeight, style, [this](WebView& view) { return pageWidget(view); });
        menus.refreshChecksWhenMenusOpen(window.gtkWindow());
        return window;
    }

private:
    bool mainWindowIsActive() const {
        auto* window = app.mainWindow();
        return window && window->gtkWindow().is_active();
    }

    GtkWidget* pageWidget(const WebView& view) const {
        for (const auto& page : pages) {
            if (page.get() == &view) {
                return page->widget();
            }
        }
        return nullptr;
    }

    // First, so that its sandbox trial runs while the toolkit starts; last to go,
    // after every view it made.
    WebEngine engine;
    // The views outlast the window that shows them.
    std::vector<std::unique_ptr<WebKitPageView>> pages;
    // Before every service that looks for its window, which it owns.
    GtkmmApplication app;
    std::unique_ptr<MainQueue> queue;
    std::unique_ptr<HttpClient> http;
    std::unique_ptr<NotificationCenter> notifications;
    std::unique_ptr<ModalAlerts> dialogs;
    std::unique_ptr<SystemEnvironment> systemEnvironment;
    GtkMenuBar menus;
    std::unique_ptr<Pasteboard> clipboard;
    std::unique_ptr<Workspace> desktop;
    std::unique_ptr<Sound> beeper;
    std::unique_ptr<ProcessLauncher> launcher;
    std::unique_ptr<SystemEvents> events;
    std::optional<std::string> engineNote;
};

} // namespace

std::unique_ptr<Platform> makeGtkPlatform(std::vector<std::string> arguments) {
    return std::make_unique<GtkPlatform>(std::move(arguments));
}

} // namespace quorvel::gtk
