#include "platform/gtk/GtkMenuBar.h"

#include "platform/gtk/StatusNotifierItem.h"

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
            // A boolean state makes a check item of the entry.
            auto action = item.checked ? Gio::SimpleAction::create_bool(name, item.checked())
                                       : Gio::SimpleAction::create(name);
            action->signal_activate().connect(
                [this, callback = item.action](const Glib::VariantBase&) {
                    callback();
                    refreshChecks();
                });
            if (item.checked) {
                checkActions.push_back({action, item.checked});
            }
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

void GtkMenuBar::refreshChecks() {
    for (const CheckAction& check : checkActions) {
        check.action->set_state(Glib::Variant<bool>::create(check.checked()));
    }
}

// The menu bar is a widget that the application window makes of the menu
// model once it is on screen; its menus are found then.
void GtkMenuBar::refreshChecksWhenMenusOpen(Gtk::Window& window) {
    window.signal_map().connect(
        [this, &window] {
            gtk_container_forall(
                GTK_CONTAINER(window.gobj()),
                +[](GtkWidget* child, gpointer data) {
                    if (!GTK_IS_MENU_BAR(child)) {
                        return;
                    }
                    GList* items = gtk_container_get_children(GTK_CONTAINER(child));
                    for (GList* entry = items; entry != nullptr; entry = entry->next) {
                        GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(entry->data));
                        if (submenu == nullptr ||
                            g_object_get_data(G_OBJECT(submenu), "quorvel-watched")) {
                            continue;
                        }
                        g_object_set_data(G_OBJECT(submenu), "quorvel-watched", submenu);
                        g_signal_connect_swapped(
                            submenu, "show",
                            G_CALLBACK(+[](GtkMenuBar* self) { self->refreshChecks(); }), data);
                    }
                    g_list_free(items);
                },
                this);
        },
        true);
}

std::unique_ptr<StatusItem> GtkMenuBar::createSquareStatusItem() {
    return makeStatusNotifierItem(statusIconTheme);
}

} // namespace quorvel::gtk
