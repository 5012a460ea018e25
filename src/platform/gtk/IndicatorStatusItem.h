#pragma once

#include "platform/Menu.h"
#include "platform/SystemEnvironment.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace quorvel::gtk {

// The icon theme folder beside the program that holds the status icon, a
// symbolic "Q" drawn for 16, 22, 24 and 32 pixels; none when it is missing.
std::optional<std::filesystem::path> findStatusIconTheme(const SystemEnvironment& environment);

// A StatusNotifierItem through libayatana-appindicator, created when the
// desktop's status area (a StatusNotifierWatcher) is on the session bus, at
// once or when it appears later. Without one nothing is created. Its icon is
// the symbolic "Q", which panels draw in their own foreground colour: by name
// from the desktop's icon theme where it is installed, else from the icon
// theme folder; without either, the application's icon.
std::unique_ptr<StatusItem>
makeIndicatorStatusItem(const std::optional<std::filesystem::path>& iconTheme);

} // namespace quorvel::gtk
