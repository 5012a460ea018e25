#pragma once

#include "platform/Menu.h"

#include <filesystem>
#include <functional>
#include <giomm/simpleaction.h>
#include <gtkmm/application.h>
#include <gtkmm/window.h>
#include <optional>
#include <vector>

namespace quorvel::gtk {

// The main menu as the application's menu bar, shown inside its window; key
// equivalents become Ctrl accelerators of application actions. Status items
// are application indicators.
class GtkMenuBar final : public MenuBar {
public:
    // Status items name their icon from the desktop's icon theme where it is
    // installed, else take it from the given icon theme folder.
    GtkMenuBar(Glib::RefPtr<Gtk::Application> app, std::string applicationName,
               std::optional<std::filesystem::path> statusIconTheme);

    void setMainMenu(const Menu& menu) override;
    std::unique_ptr<StatusItem> createSquareStatusItem() override;
    // Check items ask again whether they are checked each time one of the
    // window's menus opens.
    void refreshChecksWhenMenusOpen(Gtk::Window& window);

private:
    void refreshChecks();

    struct CheckAction {
        Glib::RefPtr<Gio::SimpleAction> action;
        std::function<bool()> checked;
    };
    std::vector<CheckAction> checkActions;
    Glib::RefPtr<Gtk::Application> app;
    std::string applicationName;
    std::optional<std::filesystem::path> statusIconTheme;
    int nextAction = 0;
};

} // namespace quorvel::gtk
