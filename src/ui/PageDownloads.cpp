#include "app/AppDelegate.h"
#include "notifications/Uuid.h"
#include "ui/DownloadNames.h"
#include "ui/PagePolicy.h"

#include <system_error>

namespace quorvel {

namespace {
const std::string downloadNotificationPrefix = "download-";
} // namespace

bool AppDelegate::webViewShouldAllowDownload(const std::string& url) {
    if (isSameOrigin(url, appBaseURL())) {
        return true;
    }
    log("download refused url=" + url);
    return false;
}

// Written under a name of its own beside where it goes, so that nothing of
// the user's is touched until it is complete.
std::optional<std::filesystem::path>
AppDelegate::webViewDownloadDestination(const std::string& url, const std::string& suggestedName) {
    if (!isSameOrigin(url, appBaseURL())) {
        log("download refused url=" + url);
        return std::nullopt;
    }
    const std::filesystem::path folder = platform.environment().downloadDirectory();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string name = safeDownloadName(suggestedName);
    std::filesystem::path partial;
    do {
        partial = folder / (name + "." + makeUuidString().substr(0, 8) + ".part");
    } while (std::filesystem::exists(partial, error));
    downloadNames[partial] = name;
    log("download started name=" + name + " url=" + url);
    return partial;
}

// The name the download is to have, once: its end is reported once.
std::string AppDelegate::takeDownloadName(const std::filesystem::path& destination) {
    const auto named = downloadNames.find(destination);
    if (named == downloadNames.end()) {
        return destination.filename().string();
    }
    std::string name = named->second;
    downloadNames.erase(named);
    return name;
}

void AppDelegate::webViewDownloadDidFinish(const std::filesystem::path& destination) {
    const std::string name = takeDownloadName(destination);
    const auto saved = moveToFreeName(destination, destination.parent_path(), name);
    if (!saved) {
        log("download failed name=" + name + " error=could not be moved to a free name, kept as " +
            destination.filename().string());
        return;
    }
    const std::string savedName = saved->filename().string();
    log("download finished name=" + savedName);
    if (systemNotificationsAllowed.load()) {
        enqueueLocalNotification(downloadNotificationPrefix + makeUuidString(),
                                 "已下载 " + savedName, "", nullptr);
    }
}

// The engine removes what it wrote, but nothing of a failed download may
// stay either way.
void AppDelegate::webViewDownloadDidFail(const std::filesystem::path& destination,
                                         const std::string& error) {
    const std::string name = takeDownloadName(destination);
    std::error_code ignored;
    std::filesystem::remove(destination, ignored);
    log("download failed name=" + name + " error=" + error);
}

bool AppDelegate::isDownloadNotification(const std::string& identifier) {
    return identifier.rfind(downloadNotificationPrefix, 0) == 0;
}

void AppDelegate::openDownloadFolder() {
    platform.workspace().openFile(platform.environment().downloadDirectory());
}

} // namespace quorvel
