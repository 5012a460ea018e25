#include "platform/gtk/IndicatorStatusItem.h"

#include "BuildConfig.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <libdbusmenu-glib/menuitem.h>
#include <libdbusmenu-glib/server.h>
#include <string>

namespace quorvel::gtk {

namespace {

// The desktop's status area registers this name on the session bus.
constexpr const char* kStatusNotifierWatcher = "org.kde.StatusNotifierWatcher";
// Symbolic, so that GTK's panels and GNOME's draw it in their foreground
// colour; Plasma recolours it by its colour-scheme class.
constexpr const char* kStatusIconName = "quorvel-status-symbolic";
// Drawn alike: the "Q" marked as paused, and the "Q" with a dot that the
// panels show while the item needs attention.
constexpr const char* kPausedIconName = "quorvel-paused-symbolic";
constexpr const char* kAttentionIconName = "quorvel-attention-symbolic";

// The indicator exists only once a StatusNotifierWatcher is on the session
// bus: without one the indicator library falls back to an X11 tray icon,
// which is of no use on Wayland and fails there. The title and menu are kept
// until the indicator can take them; once created, the indicator stays and
// re-registers by itself with a watcher that comes back.
class IndicatorStatusItem final : public StatusItem {
public:
    explicit IndicatorStatusItem(const std::optional<std::filesystem::path>& iconTheme)
        : iconThemePath(iconTheme ? iconTheme->string() : "") {
        watch = g_bus_watch_name(
            G_BUS_TYPE_SESSION, kStatusNotifierWatcher, G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
                static_cast<IndicatorStatusItem*>(data)->createIndicator();
            },
            nullptr, this, nullptr);
    }

    ~IndicatorStatusItem() override {
        g_bus_unwatch_name(watch);
        forgetRoot();
        if (indicator) {
            g_object_unref(indicator);
        }
        if (menuWidget) {
            g_object_unref(menuWidget);
        }
    }

    IndicatorStatusItem(const IndicatorStatusItem&) = delete;
    IndicatorStatusItem& operator=(const IndicatorStatusItem&) = delete;

    void setMenu(const Menu& menu) override {
        actions.clear();
        checks.clear();
        GtkWidget* widget = gtk_menu_new();
        for (const MenuItem& item : menu.items) {
            GtkWidget* entry = item.separator ? gtk_separator_menu_item_new()
                               : item.checked
                                   ? gtk_check_menu_item_new_with_label(item.title.c_str())
                                   : gtk_menu_item_new_with_label(item.title.c_str());
            if (item.checked) {
                checks.push_back({GTK_CHECK_MENU_ITEM(entry), item.checked});
            }
            if (!item.separator) {
                // The check mark follows what the command did, not the click.
                actions.push_back(
                    std::make_unique<std::function<void()>>([this, action = item.action] {
                        action();
                        refreshChecks();
                    }));
                g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
                                     (*static_cast<std::function<void()>*>(data))();
                                 }),
                                 actions.back().get());
            }
            gtk_menu_shell_append(GTK_MENU_SHELL(widget), entry);
        }
        refreshChecks();
        gtk_widget_show_all(widget);
        if (menuWidget) {
            g_object_unref(menuWidget);
        }
        menuWidget = GTK_WIDGET(g_object_ref_sink(widget));
        if (indicator) {
            app_indicator_set_menu(indicator, GTK_MENU(menuWidget));
            watchMenuOpening();
        }
    }

    void setTitle(const std::string& text) override {
        title = text;
        if (indicator) {
            app_indicator_set_title(indicator, title.c_str());
            showIcons();
        }
    }

    void setIcon(StatusIcon icon) override {
        paused = icon == StatusIcon::Paused;
        if (indicator) {
            showIcons();
        }
    }

    void setStatus(StatusItemStatus status) override {
        needsAttention = status == StatusItemStatus::NeedsAttention;
        if (indicator) {
            showIcons();
            app_indicator_set_status(indicator, needsAttention ? APP_INDICATOR_STATUS_ATTENTION
                                                               : APP_INDICATOR_STATUS_ACTIVE);
        }
    }

private:
    // Without the Q's own icons (neither installed nor beside the program)
    // the application's icon stands for all three.
    void showIcons() {
        if (!ownIcons) {
            return;
        }
        app_indicator_set_icon_full(indicator, paused ? kPausedIconName : kStatusIconName,
                                    title.c_str());
        // Only while the item needs attention: Xfce's panel shows an item's
        // attention icon whenever it has one, whatever its status.
        app_indicator_set_attention_icon_full(indicator, needsAttention ? kAttentionIconName : "",
                                              title.c_str());
    }

    struct Check {
        GtkCheckMenuItem* item;
        std::function<bool()> checked;
    };

    void refreshChecks() {
        for (const Check& check : checks) {
            // Setting the mark emits "toggled", not "activate": no command runs.
            gtk_check_menu_item_set_active(check.item, check.checked() ? TRUE : FALSE);
        }
    }

    // The panel asks for the menu's contents as it opens it (AboutToShow,
    // then the "opened" event, on the exported menu's root): check marks are
    // read again then. The root is new with every menu set.
    void watchMenuOpening() {
        DbusmenuServer* server = nullptr;
        g_object_get(indicator, "dbus-menu-server", &server, nullptr);
        if (server == nullptr) {
            return;
        }
        DbusmenuMenuitem* root = nullptr;
        g_object_get(server, DBUSMENU_SERVER_PROP_ROOT_NODE, &root, nullptr);
        g_object_unref(server);
        if (root == nullptr || root == watchedRoot) {
            if (root) {
                g_object_unref(root);
            }
            return;
        }
        forgetRoot();
        watchedRoot = root; // keeps the reference taken above
        g_signal_connect_swapped(root, DBUSMENU_MENUITEM_SIGNAL_ABOUT_TO_SHOW,
                                 G_CALLBACK(+[](IndicatorStatusItem* self) {
                                     self->refreshChecks();
                                     return FALSE;
                                 }),
                                 this);
        g_signal_connect(
            root, DBUSMENU_MENUITEM_SIGNAL_EVENT "::opened",
            G_CALLBACK(+[](DbusmenuMenuitem*, const gchar*, GVariant*, guint, gpointer self) {
                static_cast<IndicatorStatusItem*>(self)->refreshChecks();
                return FALSE;
            }),
            this);
    }

    void forgetRoot() {
        if (watchedRoot) {
            g_signal_handlers_disconnect_by_data(watchedRoot, this);
            g_object_unref(watchedRoot);
            watchedRoot = nullptr;
        }
    }

    void createIndicator() {
        if (indicator) {
            return;
        }
        // Installed, the icon is in the desktop's icon theme, and the item
        // names it alone: each panel then finds it in its own theme and draws
        // it in its own colours (Plasma recolours icons from an item's own
        // theme folder with a fixed black, unreadable on a dark panel). The
        // folder beside the program is for a program that is not installed.
        const bool installed =
            gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), kStatusIconName);
        const char* iconName =
            installed || !iconThemePath.empty() ? kStatusIconName : build::applicationId;
        indicator = app_indicator_new(build::applicationId, iconName,
                                      APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
        // When the watcher goes (a panel restarting), the library would put
        // an X11 tray icon in the item's place after a moment: of no use on
        // Wayland, and its icon-theme handling reads freed memory. The item
        // stays registered and comes back with the next watcher instead.
        AppIndicatorClass* indicatorClass = APP_INDICATOR_GET_CLASS(indicator);
        indicatorClass->fallback = nullptr;
        indicatorClass->unfallback = nullptr;
        if (!installed && !iconThemePath.empty()) {
            app_indicator_set_icon_theme_path(indicator, iconThemePath.c_str());
        }
        ownIcons = installed || !iconThemePath.empty();
        showIcons();
        app_indicator_set_title(indicator, title.c_str());
        if (menuWidget) {
            app_indicator_set_menu(indicator, GTK_MENU(menuWidget));
            watchMenuOpening();
        }
        app_indicator_set_status(indicator, needsAttention ? APP_INDICATOR_STATUS_ATTENTION
                                                           : APP_INDICATOR_STATUS_ACTIVE);
    }

    std::string iconThemePath;
    std::string title = "Quorvel";
    bool paused = false;
    bool needsAttention = false;
    bool ownIcons = false;
    guint watch = 0;
    AppIndicator* indicator = nullptr;
    GtkWidget* menuWidget = nullptr;
    std::vector<std::unique_ptr<std::function<void()>>> actions;
    std::vector<Check> checks;
    // The exported menu's root whose opening is watched, held here.
    DbusmenuMenuitem* watchedRoot = nullptr;
};

} // namespace

std::optional<std::filesystem::path> findStatusIconTheme(const SystemEnvironment& environment) {
    const auto icon = environment.resourcePath("icons", std::string("hicolor/16x16/status/") +
                                                            kStatusIconName + ".svg");
    if (!icon) {
        return std::nullopt;
    }
    // <theme>/hicolor/16x16/status/<icon>
    return icon->parent_path().parent_path().parent_path().parent_path();
}

std::unique_ptr<StatusItem>
makeIndicatorStatusItem(const std::optional<std::filesystem::path>& iconTheme) {
    return std::make_unique<IndicatorStatusItem>(iconTheme);
}

} // namespace quorvel::gtk
