#include "platform/gtk/GtkMainWindow.h"

#include "platform/gtk/LaunchToken.h"
#include "platform/gtk/WebKitPageView.h"

#include <utility>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace quorvel::gtk {

GtkMainWindow::GtkMainWindow(const Glib::RefPtr<Gtk::Application>& app, int contentWidth,
                             int contentHeight, const WindowStyle& style,
                             std::function<void()> becameActive)
    : application(app) {
    app->add_window(window);
    window.set_default_size(contentWidth, contentHeight);
    window.set_resizable(style.resizable);
    window.set_deletable(style.closable);
    window.set_decorated(style.titled);
    window.set_type_hint(style.miniaturizable ? Gdk::WINDOW_TYPE_HINT_NORMAL
                                              : Gdk::WINDOW_TYPE_HINT_DIALOG);
    window.set_show_menubar(true);
    window.signal_delete_event().connect([this](GdkEventAny*) {
        window.hide();
        if (windowDelegate) {
            windowDelegate->windowDidClose();
        }
        return true;
    });
    window.signal_show().connect([this] {
        if (windowDelegate) {
            windowDelegate->windowDidShow();
        }
    });
    window.property_is_active().signal_changed().connect(
        [this, becameActive = std::move(becameActive)] {
            if (window.is_active()) {
                becameActive();
            }
        });
}

GtkMainWindow::~GtkMainWindow() {
    if (auto* content = window.get_child()) {
        window.remove();
        (void)content;
    }
}

void GtkMainWindow::setTitle(const std::string& title) {
    window.set_title(title);
}

bool GtkMainWindow::isActive() const {
    return window.get_visible() && window.is_active();
}

void GtkMainWindow::center() {
    window.set_position(Gtk::WIN_POS_CENTER);
}

void GtkMainWindow::setContentView(WebView& view) {
    // The only content the window can hold is a page view of this platform.
    auto* pageView = dynamic_cast<WebKitPageView*>(&view);
    g_return_if_fail(pageView != nullptr);
    GtkWidget* page = pageView->widget();
    gtk_container_add(GTK_CONTAINER(window.gobj()), page);
    gtk_widget_show(page);
}

void GtkMainWindow::makeKeyAndOrderFront() {
    const std::string token = std::exchange(activationToken, {});
    const bool afterTokenlessClick = std::exchange(clickedWithoutToken, false);
    GdkDisplay* display = gdk_display_get_default();
#ifdef GDK_WINDOWING_WAYLAND
    if (GDK_IS_WAYLAND_DISPLAY(display)) {
        if (!token.empty()) {
            // GTK hands the display's pending token to the compositor when
            // the window is presented.
            useActivationTokenForNextWindow(token);
        } else if (afterTokenlessClick && window.get_visible() && !window.is_active()) {
            // GNOME 43 sends no token with a click on a notification, and
            // then refuses the focus to a window it already shows; it gives
            // it, as to any new window, to one that is mapped afresh. Only
            // here: everywhere else this would map the window twice (at
            // start, when the application's activation follows its launch).
            window.hide();
        }
    }
#endif
    // The application lets go of a window once it is hidden; without it the
    // window would lose the menu bar's shortcuts.
    if (!window.get_application()) {
        application->add_window(window);
    }
    window.show();
#ifdef GDK_WINDOWING_X11
    if (!token.empty() && GDK_IS_X11_DISPLAY(display)) {
        window.set_startup_id(token);
    }
#endif
    window.present();
}

} // namespace quorvel::gtk
