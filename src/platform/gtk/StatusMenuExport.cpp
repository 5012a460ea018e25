#include "platform/gtk/StatusMenuExport.h"

#include <libdbusmenu-glib/menuitem.h>
#include <libdbusmenu-glib/server.h>

namespace quorvel::gtk {

StatusMenuExport::StatusMenuExport(const char* objectPath)
    : server(dbusmenu_server_new(objectPath)) {}

StatusMenuExport::~StatusMenuExport() {
    dropRoot();
    g_object_unref(server);
}

void StatusMenuExport::setMenu(const Menu& menu) {
    dropRoot();
    root = dbusmenu_menuitem_new();
    for (const MenuItem& item : menu.items) {
        DbusmenuMenuitem* child = dbusmenu_menuitem_new();
        if (item.separator) {
            dbusmenu_menuitem_property_set(child, DBUSMENU_MENUITEM_PROP_TYPE, "separator");
        } else {
            dbusmenu_menuitem_property_set(child, DBUSMENU_MENUITEM_PROP_LABEL, item.title.c_str());
            if (item.checked) {
                dbusmenu_menuitem_property_set(child, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE,
                                               DBUSMENU_MENUITEM_TOGGLE_CHECK);
            }
            entries.push_back(
                std::make_unique<Entry>(Entry{this, child, item.action, item.checked}));
            g_signal_connect_swapped(child, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED,
                                     G_CALLBACK(+[](Entry* entry) {
                                         entry->action();
                                         entry->owner->refreshChecks();
                                     }),
                                     entries.back().get());
        }
        dbusmenu_menuitem_child_append(root, child);
        g_object_unref(child);
    }
    g_signal_connect_swapped(root, DBUSMENU_MENUITEM_SIGNAL_ABOUT_TO_SHOW,
                             G_CALLBACK(+[](StatusMenuExport* self) {
                                 self->refreshChecks();
                                 return FALSE;
                             }),
                             this);
    g_signal_connect(
        root, DBUSMENU_MENUITEM_SIGNAL_EVENT "::opened",
        G_CALLBACK(+[](DbusmenuMenuitem*, const gchar*, GVariant*, guint, gpointer self) {
            static_cast<StatusMenuExport*>(self)->refreshChecks();
            return FALSE;
        }),
        this);
    refreshChecks();
    dbusmenu_server_set_root(server, root);
}

void StatusMenuExport::refreshChecks() {
    for (const auto& entry : entries) {
        if (entry->checked) {
            dbusmenu_menuitem_property_set_int(entry->item, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                               entry->checked()
                                                   ? DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED
                                                   : DBUSMENU_MENUITEM_TOGGLE_STATE_UNCHECKED);
        }
    }
}

void StatusMenuExport::dropRoot() {
    if (root == nullptr) {
        return;
    }
    for (const auto& entry : entries) {
        g_signal_handlers_disconnect_by_data(entry->item, entry.get());
    }
    g_signal_handlers_disconnect_by_data(root, this);
    entries.clear();
    g_object_unref(root);
    root = nullptr;
}

} // namespace quorvel::gtk
