#pragma once

#include "platform/SystemEnvironment.h"

#include <memory>

namespace quorvel::gtk {

// Resources are looked up next to the executable (build tree) and in
// ../share/quorvel (installed tree).
std::unique_ptr<SystemEnvironment> makeLinuxSystemEnvironment();

} // namespace quorvel::gtk
