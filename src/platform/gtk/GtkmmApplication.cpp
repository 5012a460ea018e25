#include "platform/gtk/GtkmmApplication.h"

#include "BuildConfig.h"
#include "app/CommandLine.h"
#include "platform/gtk/LaunchToken.h"
#include "platform/gtk/WebEngine.h"

#include <csignal>
#include <gdk/gdk.h>
#include <glib-unix.h>
#include <gtkmm/main.h>
#include <gtkmm/window.h>
#include <iostream>
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

// The toolkit starts with the application's start-up, once the command line
// has been read: --version and --help need no display. (gtkmm's own factory
// starts it at once.)
Glib::RefPtr<Gtk::Application> makeApplication(const char* applicationId) {
    Gtk::Main::init_gtkmm_internals();
    return Glib::wrap(gtk_application_new(applicationId, G_APPLICATION_DEFAULT_FLAGS));
}

// GApplication prints the parser's error on one line of its own and ends
// with status 1; the error is reworded here into the program's usage line and
// the status becomes the usage status.
void rewordOptionError(GOptionContext*, GOptionGroup*, gpointer data, GError** error) {
    *static_cast<bool*>(data) = true;
    if (error == nullptr || *error == nullptr) {
        return;
    }
    std::string line = usageErrorLine((*error)->message);
    line.pop_back(); // GApplication ends the line
    g_free((*error)->message);
    (*error)->message = g_strdup(line.c_str());
}

} // namespace

GtkmmApplication::GtkmmApplication(const char* applicationId, std::vector<std::string> arguments,
                                   WebEngine& webEngine)
    : commandLine(std::move(arguments)), launchToken(takeLaunchActivationToken()),
      app(makeApplication(nameProgramForDesktopEntry(applicationId))), engine(webEngine) {
    g_set_application_name(build::applicationName);
    GApplication* gApplication = G_APPLICATION(app->gobj());
    const GOptionEntry entries[] = {
        {"version", 0, 0, G_OPTION_ARG_NONE, nullptr, "Print the name and version, then exit",
         nullptr},
        {"background", 0, 0, G_OPTION_ARG_NONE, nullptr,
         "Start without showing the window (as at login)", nullptr},
        {G_OPTION_REMAINING, 0, G_OPTION_FLAG_HIDDEN, G_OPTION_ARG_STRING_ARRAY, nullptr, nullptr,
         nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    g_application_add_main_option_entries(gApplication, entries);
    // A group without options of its own, for its error hook.
    GOptionGroup* errors = g_option_group_new("quorvel-errors", "", "", &unknownOption, nullptr);
    g_option_group_set_error_hook(errors, rewordOptionError);
    g_application_add_option_group(gApplication, errors);
    app->signal_handle_local_options().connect(
        [this](const Glib::RefPtr<Glib::VariantDict>& options) {
            return handleLocalOptions(options);
        },
        false);
    app->signal_startup().connect([this, programClass = std::string(applicationId)] {
        gdk_set_program_class(programClass.c_str());
        if (!launchToken.empty()) {
            useActivationTokenForNextWindow(launchToken);
        }
        // Keeps the process alive while the window is closed.
        app->hold();
        // The icon the desktop entry names, for windows and dialogs.
        gtk_window_set_default_icon_name(build::applicationId);
        // The bundled service takes longer to start than the engine's web
        // process: that process starts while the service does, not once it
        // answers. (With the cloud service the page's load starts the
        // process at once; starting it earlier there only competes with
        // start-up for the processor.)
        engine.launch(!build::useCloudBackend);
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
        if (window && !std::exchange(holdWindowBack, false)) {
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

void GtkmmApplication::activate() {
    // Before the window exists it is presented when it is created; a closed
    // window stays closed.
    if (window && window->gtkWindow().get_visible()) {
        window->gtkWindow().present();
    }
}

GtkMainWindow& GtkmmApplication::createMainWindow(int contentWidth, int contentHeight,
                                                  const WindowStyle& style) {
    if (window) {
        throw std::logic_error("the application has one window");
    }
    window = std::make_unique<GtkMainWindow>(app, contentWidth, contentHeight, style,
                                             [this] { windowBecameActive(); });
    return *window;
}

void GtkmmApplication::notificationWasClicked(const std::optional<std::string>& token) {
    if (window) {
        window->notificationWasClicked(token);
    }
}

int GtkmmApplication::handleLocalOptions(const Glib::RefPtr<Glib::VariantDict>& options) {
    nameProgramForDesktopEntry(app->get_id().c_str());
    CommandLineOptions read;
    read.version = options->contains("version");
    read.background = options->contains("background");
    std::vector<Glib::ustring> rest;
    if (options->lookup_value(G_OPTION_REMAINING, rest)) {
        read.arguments.assign(rest.begin(), rest.end());
    }
    const CommandLineAnswer answer = answerCommandLine(read);
    if (answer.exitStatus) {
        std::cout << answer.standardOutput << std::flush;
        std::cerr << answer.standardError << std::flush;
        return *answer.exitStatus;
    }
    GApplication* gApplication = G_APPLICATION(app->gobj());
    if (read.background) {
        // Set before registering, which starts the primary instance. A
        // running instance is left as it is: it already does what a start in
        // the background would.
        background = holdWindowBack = true;
        if (g_application_register(gApplication, nullptr, nullptr) &&
            g_application_get_is_remote(gApplication)) {
            return 0;
        }
        return -1;
    }
    // A second start hands its launcher's token to the running instance.
    if (!launchToken.empty() && activateRunningInstance(gApplication, launchToken)) {
        return 0;
    }
    return -1;
}

int GtkmmApplication::run() {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        signalSources.push_back(GlibSource::onSignal(signalNumber, [this] { terminate(); }));
    }
    std::vector<char*> argv;
    for (std::string& argument : commandLine) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // The help and the parser's errors name the command; the toolkit, which
    // starts later, finds the desktop entry's name again.
    g_set_prgname("quorvel");
    const int status = app->run(static_cast<int>(commandLine.size()), argv.data());
    return unknownOption ? kUsageExitStatus : status;
}

void GtkmmApplication::terminate() {
    terminating = true;
    terminating_.emit();
    app->quit();
}

void GtkmmApplication::windowBecameActive() {
    if (!terminating && delegate) {
        delegate->applicationDidBecomeActive();
    }
}

} // namespace quorvel::gtk
