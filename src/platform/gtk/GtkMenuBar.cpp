#include "platform/gtk/GtkMenuBar.h"

#include "platform/gtk/IndicatorStatusItem.h"

#include <giomm/menu.h>
#include <giomm/simpleaction.h>

namespace quorvel::gtk {

namespace {

std::string acceleratorFor(const std::string& keyEquivalent) {
    const guint key = gdk_unicode_to_keyval(static_cast<unsigned char>(keyEquivalent.front()));
    gchar* name = gtk_accelerator_name(key, GDK_CONTROL_MASK);
    std::string accelerator = name;
    g_free(name);
    return accelerator;
}

} // namespace

GtkMenuBar::GtkMenuBar(Glib::RefPtr<Gtk::Application> app_, std::string applicationName_,
                       std::optional<std::filesystem::path> statusIconTheme_)
    : app(std::move(app_)), applicationName(std::move(applicationName_)),
      statusIconTheme(std::move(statusIconTheme_)) {}

void GtkMenuBar::setMainMenu(const Menu& menu) {
    auto bar = Gio::Menu::create();
    for (const MenuItem& top : menu.items) {
        if (!top.submenu) {
            continue;
        }
        // Separators split a menu model into sections.
        auto submenu = Gio::Menu::create();
        auto section = Gio::Menu::create();
        for (const MenuItem& item : top.submenu->items) {
            if (item.separator) {
                submenu->append_section(section);
                section = Gio::Menu::create();
                continue;
            }
            const std::string name = "menu-" + std::to_string(nextAction++);
            auto action = Gio::SimpleAction::create(name);
            action->signal_activate().connect(
                [callback = item.action](const Glib::VariantBase&) { callback(); });
            app->add_action(action);
            section->append(item.title, "app." + name);
            if (!item.keyEquivalent.empty()) {
                app->set_accel_for_action("app." + name, acceleratorFor(item.keyEquivalent));
            }
        }
        submenu->append_section(section);
        // The untitled first menu carries the application's name.
        const std::string title = top.submenu->title.empty() ? applicationName : top.submenu->title;
        bar->append_submenu(title, submenu);
    }
    app->set_menubar(bar);
}

std::unique_ptr<StatusItem> GtkMenuBar::createSquareStatusItem() {
    return makeIndicatorStatusItem(statusIconTheme);
}

} // namespace quorvel::gtk
