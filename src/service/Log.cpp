#include "app/AppDelegate.h"
#include "service/DiagnosticLog.h"
#include "service/LogEvents.h"

#include <ctime>

namespace quorvel {

void AppDelegate::log(const std::string& message) const {
    if (!logFile) {
        return;
    }
    appendLogLine(*logFile, formatLogLine(std::time(nullptr), message));
}

void AppDelegate::log(std::string_view event, const std::string& message) const {
    log(logevent::line(event, message));
}

} // namespace quorvel
