#include "platform/gtk/GtkmmApplication.h"

#include "BuildConfig.h"

#include <csignal>
#include <glib-unix.h>
#include <gtkmm/window.h>

namespace quorvel::gtk {

GtkmmApplication::GtkmmApplication(const char* applicationId)
    : app(Gtk::Application::create(applicationId)) {
    g_set_application_name("Quorvel");
    app->signal_startup().connect([this] {
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
    app->quit();
}

void GtkmmApplication::windowBecameActive() {
    if (!terminating && delegate) {
        delegate->applicationDidBecomeActive();
    }
}

} // namespace quorvel::gtk
