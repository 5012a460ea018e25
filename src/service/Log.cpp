#include "app/AppDelegate.h"
#include "service/DiagnosticLog.h"

#include <ctime>

namespace quorvel {

void AppDelegate::log(const std::string& message) const {
    if (!logFile) {
        return;
    }
    appendLogLine(*logFile, formatLogLine(std::time(nullptr), message));
}

} // namespace quorvel
