#pragma once

#include "platform/Menu.h"

#include <functional>
#include <memory>
#include <vector>

typedef struct _DbusmenuServer DbusmenuServer;
typedef struct _DbusmenuMenuitem DbusmenuMenuitem;

namespace quorvel::gtk {

// The status item's menu, exported on the session bus through libdbusmenu
// for the panel to draw. Check marks are read again as the panel opens the
// menu (AboutToShow, then the "opened" event on its root), and after each
// command: the mark follows what the command did, not the click.
class StatusMenuExport {
public:
    explicit StatusMenuExport(const char* objectPath);
    ~StatusMenuExport();

    StatusMenuExport(const StatusMenuExport&) = delete;
    StatusMenuExport& operator=(const StatusMenuExport&) = delete;

    void setMenu(const Menu& menu);

private:
    struct Entry {
        StatusMenuExport* owner;
        DbusmenuMenuitem* item;
        std::function<void()> action;
        std::function<bool()> checked;
    };

    void refreshChecks();
    void dropRoot();

    DbusmenuServer* server;
    DbusmenuMenuitem* root = nullptr;
    // Stable addresses: each item's signal handler holds its entry.
    std::vector<std::unique_ptr<Entry>> entries;
};

} // namespace quorvel::gtk
