#pragma once

#include "platform/Application.h"
#include "platform/gtk/GlibSource.h"
#include "platform/gtk/GtkMainWindow.h"

#include <functional>
#include <gtkmm/application.h>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::gtk {

// The shared application on a Gtk::Application: its start-up signal ends
// launching, its activation and every activation of one of its windows make
// it active, and its shut-down runs the termination steps. SIGTERM, SIGINT
// and SIGHUP ask it to terminate. It owns its one window.
class GtkmmApplication final : public Application {
public:
    explicit GtkmmApplication(const char* applicationId);
    ~GtkmmApplication() override;

    void setDelegate(ApplicationDelegate* delegate) override;
    void setActivationPolicyRegular() override;
    void activate() override;
    int run() override;
    void terminate() override;
    bool isTerminating() const override { return terminating; }

    Glib::RefPtr<Gtk::Application> gtkApplication() const { return app; }
    // A window of the application became the active window.
    void windowBecameActive();
    // Runs first when termination is asked for, e.g. to end nested loops.
    void setTerminationHandler(std::function<void()> handler) {
        terminationHandler = std::move(handler);
    }
    // The window, which activation brings forward; made once, it lasts as
    // long as the application.
    GtkMainWindow& createMainWindow(int contentWidth, int contentHeight, const WindowStyle& style,
                                    GtkMainWindow::PageWidget pageWidget);
    // The window once it is made, else null.
    GtkMainWindow* mainWindow() const { return window.get(); }
    // Platform set-up that runs at start-up, once the toolkit is initialised
    // and before the delegate's own start-up steps.
    void setBeforeLaunching(std::function<void()> steps) { beforeLaunching = std::move(steps); }

private:
    std::string launchToken; // from the launcher, for the first window
    Glib::RefPtr<Gtk::Application> app;
    ApplicationDelegate* delegate = nullptr;
    bool terminating = false;
    // After the toolkit's application, so that it leaves it first.
    std::unique_ptr<GtkMainWindow> window;
    std::vector<GlibSource> signalSources;
    std::function<void()> terminationHandler;
    std::function<void()> beforeLaunching;
};

} // namespace quorvel::gtk
