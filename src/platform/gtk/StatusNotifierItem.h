#pragma once

#include "platform/Menu.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace quorvel::gtk {

// The application's StatusNotifierItem, served on the session bus and
// registered with the desktop's status area (a StatusNotifierWatcher) when
// one is there, at once or when it appears later, and again each time it
// comes back (a panel restarting); without one the item waits. A left click
// (Activate) runs the item's main action; its menu is exported through
// libdbusmenu. Its icons are named (see statusIconNames), with the icon
// theme folder beside the program for a program that is not installed, and
// also sent as images for the panels that ignore that folder.
std::unique_ptr<StatusItem>
makeStatusNotifierItem(const std::optional<std::filesystem::path>& iconTheme);

} // namespace quorvel::gtk
