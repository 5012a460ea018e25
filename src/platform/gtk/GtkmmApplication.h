#pragma once

#include "platform/Application.h"
#include "platform/gtk/GlibSource.h"
#include "platform/gtk/GtkMainWindow.h"

#include <functional>
#include <gtkmm/application.h>
#include <memory>
#include <optional>
#include <sigc++/signal.h>
#include <sigc++/trackable.h>
#include <string>
#include <vector>

namespace quorvel::gtk {

class WebEngine;

// The shared application on a Gtk::Application: its start-up signal ends
// launching, its activation and every activation of one of its windows make
// it active, and its shut-down runs the termination steps. SIGTERM, SIGINT
// and SIGHUP ask it to terminate. It owns its one window. It reads the
// command line through GApplication's option handling: --version and --help
// answer and end at once, without a display and without asking a running
// instance anything; --background starts without showing the window.
class GtkmmApplication final : public Application, public sigc::trackable {
public:
    // Only the instance that runs launches `engine`, at start-up; a second
    // start hands over before.
    GtkmmApplication(const char* applicationId, std::vector<std::string> arguments,
                     WebEngine& engine);
    ~GtkmmApplication() override;

    void setDelegate(ApplicationDelegate* delegate) override;
    void activate() override;
    int run() override;
    void terminate() override;
    bool isTerminating() const override { return terminating; }
    bool startsInBackground() const override { return background; }

    Glib::RefPtr<Gtk::Application> gtkApplication() const { return app; }
    // A window of the application became the active window.
    void windowBecameActive();
    // Emitted first when termination is asked for, e.g. to end nested loops.
    sigc::signal<void>& signalTerminating() { return terminating_; }
    // The window, which activation brings forward; made once, it lasts as
    // long as the application.
    GtkMainWindow& createMainWindow(int contentWidth, int contentHeight, const WindowStyle& style);
    // The window once it is made, else null.
    GtkMainWindow* mainWindow() const { return window.get(); }
    // A click on one of the application's notifications is about to bring
    // the window forward (see GtkMainWindow).
    void notificationWasClicked(const std::optional<std::string>& token);

private:
    // The answer to the options read, or -1 to go on and start.
    int handleLocalOptions(const Glib::RefPtr<Glib::VariantDict>& options);

    std::vector<std::string> commandLine;
    // The command line named an option that does not exist.
    bool unknownOption = false;
    bool background = false;
    // The first activation of a start in the background leaves the window closed.
    bool holdWindowBack = false;
    std::string launchToken; // from the launcher, for the first window
    Glib::RefPtr<Gtk::Application> app;
    ApplicationDelegate* delegate = nullptr;
    bool terminating = false;
    // After the toolkit's application, so that it leaves it first.
    std::unique_ptr<GtkMainWindow> window;
    std::vector<GlibSource> signalSources;
    WebEngine& engine;
    sigc::signal<void> terminating_;
};

} // namespace quorvel::gtk
