#pragma once

#include "platform/Menu.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace quorvel::gtk {

// A StatusNotifierItem through libayatana-appindicator, created when the
// desktop's status area (a StatusNotifierWatcher) is on the session bus, at
// once or when it appears later. Without one nothing is created.
std::unique_ptr<StatusItem>
makeIndicatorStatusItem(const std::optional<std::filesystem::path>& icon);

} // namespace quorvel::gtk
