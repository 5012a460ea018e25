#pragma once

#include "platform/Window.h"

#include <functional>
#include <gtkmm/applicationwindow.h>
#include <string>

namespace quorvel::gtk {

// The application's window. Its client area (menu bar and page) has the
// given size; closing it hides it.
class GtkMainWindow final : public Window {
public:
    GtkMainWindow(const Glib::RefPtr<Gtk::Application>& app, int contentWidth, int contentHeight,
                  const WindowStyle& style, std::function<void()> becameActive);
    ~GtkMainWindow() override;

    void setDelegate(WindowDelegate* delegate) override { windowDelegate = delegate; }
    void setTitle(const std::string& title) override;
    void center() override;
    void setContentView(WebView& view) override;
    void makeKeyAndOrderFront() override;

    Gtk::Window& gtkWindow() { return window; }
    // The desktop's permission for the next makeKeyAndOrderFront to take the
    // focus (an activation token, e.g. from a click on a notification).
    void setActivationToken(std::string token) { activationToken = std::move(token); }

private:
    Glib::RefPtr<Gtk::Application> application;
    Gtk::ApplicationWindow window;
    std::string activationToken;
    WindowDelegate* windowDelegate = nullptr;
};

} // namespace quorvel::gtk
