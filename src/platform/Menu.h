#pragma once

#include "platform/Interface.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

struct Menu;

// A menu entry: a separator, a command, or a titled submenu.
struct MenuItem {
    std::string title;
    // A single lower-case character used with the primary modifier (Ctrl);
    // empty for none.
    std::string keyEquivalent;
    // Name of the command, for diagnostics and tests.
    std::string actionName;
    std::function<void()> action;
    std::shared_ptr<Menu> submenu;
    bool separator = false;
    // Set for a check item: whether its mark shows, asked afresh each time
    // its menu opens.
    std::function<bool()> checked;

    static MenuItem separatorItem() {
        MenuItem item;
        item.separator = true;
        return item;
    }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;

    void addItem(std::string itemTitle, std::string actionName, std::function<void()> action,
                 std::string keyEquivalent = {}) {
        items.push_back(MenuItem{std::move(itemTitle),
                                 std::move(keyEquivalent),
                                 std::move(actionName),
                                 std::move(action),
                                 nullptr,
                                 false,
                                 {}});
    }
    void addCheckItem(std::string itemTitle, std::string actionName, std::function<void()> action,
                      std::function<bool()> checked) {
        addItem(std::move(itemTitle), std::move(actionName), std::move(action));
        items.back().checked = std::move(checked);
    }
    void addSeparator() { items.push_back(MenuItem::separatorItem()); }
    void addSubmenu(std::shared_ptr<Menu> submenu) {
        MenuItem item;
        item.submenu = std::move(submenu);
        items.push_back(std::move(item));
    }
};

// The status item's own icon: the "Q", or the "Q" marked as paused while
// alerts do not arrive.
enum class StatusIcon { Normal, Paused };

// NeedsAttention shows the attention icon (the "Q" with a dot) instead.
enum class StatusItemStatus { Active, NeedsAttention };

// An item in the desktop's status area.
struct StatusItem : Interface {
    virtual void setMenu(const Menu& menu) = 0;
    // The item's main action, which a left click on it asks for.
    virtual void setPrimaryAction(std::function<void()> action) = 0;
    // The item's name, which panels show as its tooltip and give to
    // assistive technology.
    virtual void setTitle(const std::string& title) = 0;
    virtual void setIcon(StatusIcon icon) = 0;
    virtual void setStatus(StatusItemStatus status) = 0;
};

struct MenuBar : Interface {
    // Installs the application's main menu; each top-level item holds a submenu.
    virtual void setMainMenu(const Menu& menu) = 0;
    virtual std::unique_ptr<StatusItem> createSquareStatusItem() = 0;
};

} // namespace quorvel
