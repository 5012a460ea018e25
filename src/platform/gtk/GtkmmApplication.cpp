#include "platform/gtk/GtkmmApplication.h"

#include "BuildConfig.h"

#include <csignal>
#include <gdk/gdk.h>
#include <glib-unix.h>
#include <gtkmm/window.h>
#include <string>

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

// A launcher hands its activation token over in XDG_ACTIVATION_TOKEN, older
// ones in DESKTOP_STARTUP_ID, the only one GTK 3 reads: it presents the first
// window with it, and a second start passes it to the running instance.
void takeActivationToken() {
    const char* token = g_getenv("XDG_ACTIVATION_TOKEN");
    if (token != nullptr && *token != '\0' && g_getenv("DESKTOP_STARTUP_ID") == nullptr) {
        g_setenv("DESKTOP_STARTUP_ID", token, TRUE);
    }
    // Meant for this process alone, not for the local service it starts.
    g_unsetenv("XDG_ACTIVATION_TOKEN");
}

const char* prepareForDesktop(const char* applicationId) {
    takeActivationToken();
    return nameProgramForDesktopEntry(applicationId);
}

} // namespace

GtkmmApplication::GtkmmApplication(const char* applicationId)
    : app(Gtk::Application::create(prepareForDesktop(applicationId))) {
    g_set_application_name("Quorvel");
    app->signal_startup().connect([this, programClass = std::string(applicationId)] {
        gdk_set_program_class(programClass.c_str());
        // Keeps the process alive while the window is closed.
        app->hold();
        // The icon the desktop entry names, for windows and dialogs.
        gtk_window_set_default_icon_name(build::applicationId);
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
        if (mainWindow) {
            mainWindow->makeKeyAndOrderFront();
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

GtkmmApplication::~GtkmmApplication() {
    for (const unsigned source : signalSources) {
        g_source_remove(source);
    }
}

void GtkmmApplication::setDelegate(ApplicationDelegate* newDelegate) {
    delegate = newDelegate;
}

// Every GTK application is a regular one with windows and a menu bar.
void GtkmmApplication::setActivationPolicyRegular() {}

void GtkmmApplication::activate() {
    // Before the window exists it is presented when it is created; a closed
    // window stays closed.
    if (mainWindow && mainWindow->gtkWindow().get_visible()) {
        mainWindow->gtkWindow().present();
    }
}

int GtkmmApplication::run() {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        signalSources.push_back(g_unix_signal_add(
            signalNumber,
            [](gpointer data) -> gboolean {
                static_cast<GtkmmApplication*>(data)->terminate();
                return G_SOURCE_CONTINUE;
            },
            this));
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
