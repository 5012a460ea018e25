#include "app/Autostart.h"

#include "BuildConfig.h"
#include "app/AppDelegate.h"
#include "app/AtomicFile.h"

#include <string_view>
#include <unistd.h>

namespace quorvel {

std::filesystem::path autostartEntryPath(const std::filesystem::path& configDirectory) {
    return configDirectory / "autostart" / (std::string(build::applicationId) + ".desktop");
}

std::string desktopEntryExecArgument(const std::string& argument) {
    // Characters that make an argument need quotes, and those that must be
    // escaped with a backslash inside them.
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    constexpr std::string_view escapedInQuotes = "\"`$\\";
    std::string quoted;
    bool needsQuotes = argument.empty();
    for (const char c : argument) {
        needsQuotes = needsQuotes || reserved.find(c) != std::string_view::npos;
        if (escapedInQuotes.find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        // A field code would be expanded by the launcher.
        quoted += c == '%' ? std::string("%%") : std::string(1, c);
    }
    std::string exec = needsQuotes ? "\"" + quoted + "\"" : quoted;
    // The value is a desktop entry string too: its backslashes double.
    std::string value;
    for (const char c : exec) {
        value += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return value;
}

std::string autostartEntryText(const std::filesystem::path& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quorvel\n"
           "Comment=Start Quorvel in the background at login\n"
           "Exec=" +
           desktopEntryExecArgument(program.string()) +
           " --background\n"
           "Icon=" +
           std::string(build::applicationId) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AppDelegate::startsAtLogin() const {
    std::error_code error;
    return std::filesystem::is_regular_file(
        autostartEntryPath(platform.environment().userConfigDirectory()), error);
}

// Like every file-system step of the shell, a failure here is silent: the
// check mark, read from the folder, shows what happened.
void AppDelegate::toggleStartAtLogin() {
    const auto entry = autostartEntryPath(platform.environment().userConfigDirectory());
    if (startsAtLogin()) {
        ::unlink(entry.c_str());
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(entry.parent_path(), error);
    writeFileAtomically(entry, autostartEntryText(platform.environment().executablePath()), 0644);
}

} // namespace quorvel
