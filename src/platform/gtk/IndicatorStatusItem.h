#pragma once

#include "platform/Menu.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace quorvel::gtk {

// A StatusNotifierItem through libayatana-appindicator. Without a status
// area on the desktop it simply shows nowhere.
std::unique_ptr<StatusItem>
makeIndicatorStatusItem(const std::optional<std::filesystem::path>& icon);

} // namespace quorvel::gtk
