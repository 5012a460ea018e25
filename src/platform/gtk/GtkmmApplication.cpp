#include "platform/gtk/GtkmmApplication.h"

#include "BuildConfig.h"
#include "platform/gtk/LaunchToken.h"

#include <csignal>
#include <gdk/gdk.h>
#include <glib-unix.h>
#include <gtkmm/window.h>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel::gtk {

namespace {

// Desktops tie windows to the installed desktop entry by the Wayland app id,
// which GTK takes from the program name, and by the X11 window class (set
// once the toolkit has started, which derives its own): both are the
// application id, the entry's name.
const char* nameProgramForDesktopEntry(const char* applicationId) {
    g_set_prgname(applicationId);
    return applicationId;
}

} // namespace

GtkmmApplication::GtkmmApplication(const char* applicationId)
    : launchToken(takeLaunchActivationToken()),
      app(Gtk::Application::create(nameProgramForDesktopEntry(applicationId))) {
    g_set_application_name("Quorvel");
    app->signal_startup().connect([this, programClass = std::string(applicationId)] {
        gdk_set_program_class(programClass.c_str());
        if (!launchToken.empty()) {
            useActivationTokenForNextWindow(launchToken);
        }
        // Keeps the process alive while the window is closed.
        app->hold();
        // The icon the desktop entry names, for windows and dialogs.
        gtk_window_set_default_icon_name(build::applicationId);
        if (beforeLaunching) {
            beforeLaunching();
        }
        if (delegate) {
            delegate->applicationDidFinishLaunching();
        }
    });
    // Emitted once at launch and again whenever the program is started while
    // it already runs: the running instance then shows its window, closed or
    // not, as users of a desktop expect.
    app->signal_activate().connect([this] {
        if (terminating || !delegate) {
            return;
        }
        if (window) {
            window->makeKeyAndOrderFront();
        }
        delegate->applicationDidBecomeActive();
    });
    app->signal_shutdown().connect([this] {
        terminating = true;
        if (delegate) {
            delegate->applicationWillTerminate();
        }
    });
}

GtkmmApplication::~GtkmmApplication() = default;

void GtkmmApplication::setDelegate(ApplicationDelegate* newDelegate) {
    delegate = newDelegate;
}

// Every GTK application is a regular one with windows and a menu bar.
void GtkmmApplication::setActivationPolicyRegular() {}

void GtkmmApplication::activate() {
    // Before the window exists it is presented when it is created; a closed
    // window stays closed.
    if (window && window->gtkWindow().get_visible()) {
        window->gtkWindow().present();
    }
}

GtkMainWindow& GtkmmApplication::createMainWindow(int contentWidth, int contentHeight,
                                                  const WindowStyle& style,
                                                  GtkMainWindow::PageWidget pageWidget) {
    if (window) {
        throw std::logic_error("the application has one window");
    }
    window =
        std::make_unique<GtkMainWindow>(app, contentWidth, contentHeight, style,
                                        std::move(pageWidget), [this] { windowBecameActive(); });
    return *window;
}

int GtkmmApplication::run() {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        signalSources.push_back(GlibSource::onSignal(signalNumber, [this] { terminate(); }));
    }
    // A second start hands its launcher's token to the running instance.
    if (!launchToken.empty() && activateRunningInstance(G_APPLICATION(app->gobj()), launchToken)) {
        return 0;
    }
    return app->run();
}

void GtkmmApplication::terminate() {
    terminating = true;
    if (terminationHandler) {
        terminationHandler();
    }
    app->quit();
}

void GtkmmApplication::windowBecameActive() {
    if (!terminating && delegate) {
        delegate->applicationDidBecomeActive();
    }
}

} // namespace quorvel::gtk
