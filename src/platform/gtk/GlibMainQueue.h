#pragma once

#include "platform/MainQueue.h"

#include <memory>

namespace quorvel::gtk {

// Sources on the default main context: they also run inside the nested loops
// of modal dialogs.
std::unique_ptr<MainQueue> makeGlibMainQueue();

} // namespace quorvel::gtk
