#include "platform/gtk/StatusNotifierItem.h"

#include "BuildConfig.h"
#include "StatusNotifierItemXml.h"
#include "platform/gtk/StatusIcons.h"
#include "platform/gtk/StatusMenuExport.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <string>

namespace quorvel::gtk {

namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/StatusNotifierItem/Menu";

class StatusNotifierItem final : public StatusItem {
public:
    explicit StatusNotifierItem(const std::optional<std::filesystem::path>& themeFolder)
        : iconTheme(themeFolder), names(statusIconNames(desktopNames())), menu(kMenuPath) {
        // The Q in its own colours: also on the panels that show the
        // images, it has to be legible on whatever the panel's colour is.
        const StatusIconNames coloured = statusIconNames("UKUI");
        pixmaps[0] = g_variant_ref_sink(statusIconPixmaps(coloured.normal, themeFolder));
        pixmaps[1] = g_variant_ref_sink(statusIconPixmaps(coloured.paused, themeFolder));
        pixmaps[2] = g_variant_ref_sink(statusIconPixmaps(coloured.attention, themeFolder));
        connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (connection == nullptr) {
            return;
        }
        static const GDBusInterfaceVTable vtable = {
            &StatusNotifierItem::onCall, &StatusNotifierItem::onGetProperty, nullptr, {}};
        GError* error = nullptr;
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(statusNotifierItemXml, &error);
        if (node == nullptr) {
            g_critical("the status item's interface does not parse: %s", error->message);
            g_error_free(error);
            g_clear_object(&connection);
            return;
        }
        registration = g_dbus_connection_register_object(connection, kItemPath, node->interfaces[0],
                                                         &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        // Called each time the watcher appears: a panel that restarts
        // forgets its items.
        watch = g_bus_watch_name_on_connection(
            connection, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection* bus, const gchar*, const gchar*, gpointer) {
                g_dbus_connection_call(bus, kWatcherName, kWatcherPath, kWatcherName,
                                       "RegisterStatusNotifierItem",
                                       g_variant_new("(s)", kItemPath), nullptr,
                                       G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
            },
            nullptr, nullptr, nullptr);
    }

    ~StatusNotifierItem() override {
        if (connection) {
            g_bus_unwatch_name(watch);
            g_dbus_connection_unregister_object(connection, registration);
            g_object_unref(connection);
        }
        for (GVariant* images : pixmaps) {
            g_variant_unref(images);
        }
    }

    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    void setMenu(const Menu& items) override { menu.setMenu(items); }

    void setPrimaryAction(std::function<void()> action) override {
        primaryAction = std::move(action);
    }

    void setTitle(const std::string& text) override {
        title = text;
        emit("NewTitle", nullptr);
        emit("NewToolTip", nullptr);
    }

    void setIcon(StatusIcon icon) override {
        paused = icon == StatusIcon::Paused;
        emit("NewIcon", nullptr);
    }

    void setStatus(StatusItemStatus status) override {
        needsAttention = status == StatusItemStatus::NeedsAttention;
        emit("NewAttentionIcon", nullptr);
        emit("NewStatus", g_variant_new("(s)", statusText()));
    }

private:
    static std::string desktopNames() {
        const char* desktop = g_getenv("XDG_CURRENT_DESKTOP");
        return desktop ? desktop : "";
    }

    const char* statusText() const { return needsAttention ? "NeedsAttention" : "Active"; }

    bool installed() const {
        return gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), names.normal);
    }

    // Installed, the icons are in the desktop's icon theme, and the item
    // names them alone: each panel then finds them in its own theme and
    // draws them in its own colours (Plasma recolours icons from an item's
    // own theme folder with a fixed black, unreadable on a dark panel).
    std::string themePath() const { return installed() || !iconTheme ? "" : iconTheme->string(); }

    // Without the Q's own icons (neither installed nor beside the program)
    // the application's icon stands for all three.
    const char* iconName() const {
        if (installed() || (iconTheme && !names.themeOnly)) {
            return paused ? names.paused : names.normal;
        }
        return iconTheme ? "" : build::applicationId;
    }

    const char* attentionIconName() const {
        return needsAttention && (installed() || (iconTheme && !names.themeOnly)) ? names.attention
                                                                                  : "";
    }

    GVariant* property(const gchar* name) const {
        const std::string_view key = name;
        if (key == "Category") {
            return g_variant_new_string("ApplicationStatus");
        }
        if (key == "Id") {
            return g_variant_new_string(build::applicationId);
        }
        if (key == "Title") {
            return g_variant_new_string(title.c_str());
        }
        if (key == "Status") {
            return g_variant_new_string(statusText());
        }
        if (key == "WindowId") {
            return g_variant_new_int32(0);
        }
        if (key == "IconThemePath") {
            return g_variant_new_string(themePath().c_str());
        }
        if (key == "IconName") {
            return g_variant_new_string(iconName());
        }
        if (key == "IconPixmap") {
            return g_variant_ref(pixmaps[paused ? 1 : 0]);
        }
        // Only while the item needs attention: Xfce's panel shows an item's
        // attention icon whenever it has one, whatever its status.
        if (key == "AttentionIconName") {
            return g_variant_new_string(attentionIconName());
        }
        if (key == "AttentionIconPixmap") {
            return needsAttention ? g_variant_ref(pixmaps[2])
                                  : g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
        }
        if (key == "ToolTip") {
            return g_variant_new("(s@a(iiay)ss)", "",
                                 g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0),
                                 title.c_str(), "");
        }
        if (key == "ItemIsMenu") {
            return g_variant_new_boolean(FALSE);
        }
        if (key == "Menu") {
            return g_variant_new_object_path(kMenuPath);
        }
        return nullptr;
    }

    static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar* name, GError** error, gpointer data) {
        GVariant* value = static_cast<StatusNotifierItem*>(data)->property(name);
        if (value == nullptr) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", name);
        }
        return value;
    }

    // Activate is a left click: the item's main action. A middle click
    // (SecondaryActivate) and the wheel (Scroll) do nothing.
    static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                       gpointer data) {
        auto* self = static_cast<StatusNotifierItem*>(data);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (std::string_view(method) == "Activate" && self->primaryAction) {
            self->primaryAction();
        }
    }

    void emit(const char* signal, GVariant* parameters) {
        if (connection) {
            g_dbus_connection_emit_signal(connection, nullptr, kItemPath, kItemInterface, signal,
                                          parameters, nullptr);
        } else if (parameters) {
            g_variant_unref(g_variant_ref_sink(parameters));
        }
    }

    std::optional<std::filesystem::path> iconTheme;
    StatusIconNames names;
    StatusMenuExport menu;
    // The Q, the paused Q and the Q with a dot, as images.
    GVariant* pixmaps[3] = {};
    std::function<void()> primaryAction;
    std::string title = build::applicationName;
    bool paused = false;
    bool needsAttention = false;
    GDBusConnection* connection = nullptr;
    guint registration = 0;
    guint watch = 0;
};

} // namespace

std::unique_ptr<StatusItem>
makeStatusNotifierItem(const std::optional<std::filesystem::path>& iconTheme) {
    return std::make_unique<StatusNotifierItem>(iconTheme);
}

} // namespace quorvel::gtk
