#pragma once

#include "platform/Window.h"

#include <functional>
#include <gtk/gtk.h>
#include <gtkmm/applicationwindow.h>
#include <optional>
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
    bool isActive() const override;

    Gtk::Window& gtkWindow() { return window; }
    // A click on one of the application's notifications is about to bring
    // the window forward, with the desktop's permission to take the focus
    // (an activation token) or without one.
    void notificationWasClicked(const std::optional<std::string>& token) {
        activationToken = token.value_or("");
        clickedWithoutToken = !token;
    }

private:
    Glib::RefPtr<Gtk::Application> application;
    Gtk::ApplicationWindow window;
    std::string activationToken;
    bool clickedWithoutToken = false;
    WindowDelegate* windowDelegate = nullptr;
};

} // namespace quorvel::gtk
