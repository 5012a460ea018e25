#include "platform/gtk/LinuxSystemEnvironment.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace quorvel::gtk {

namespace {

std::filesystem::path executableFile() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe;
}

std::filesystem::path executableDirectory() {
    const auto exe = executableFile();
    std::error_code error;
    return exe.empty() ? std::filesystem::current_path(error) : exe.parent_path();
}

class LinuxSystemEnvironment final : public SystemEnvironment {
public:
    std::filesystem::path userDataDirectory() const override { return g_get_user_data_dir(); }

    std::filesystem::path userConfigDirectory() const override { return g_get_user_config_dir(); }

    std::filesystem::path executablePath() const override { return executableFile(); }

    std::string homeDirectory() const override {
        std::string home = g_get_home_dir();
        while (home.size() > 1 && home.back() == '/') {
            home.pop_back();
        }
        return home;
    }

    std::map<std::string, std::string> processEnvironment() const override {
        std::map<std::string, std::string> variables;
        for (char** entry = environ; entry && *entry; ++entry) {
            const std::string text = *entry;
            const auto equals = text.find('=');
            if (equals != std::string::npos) {
                variables.emplace(text.substr(0, equals), text.substr(equals + 1));
            }
        }
        return variables;
    }

    std::optional<std::filesystem::path> resourcePath(const std::string& folder,
                                                      const std::string& name) const override {
        const std::filesystem::path exeDir = executableDirectory();
        for (const auto& candidate :
             {exeDir / folder / name, exeDir / ".." / "share" / "quorvel" / folder / name}) {
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error)) {
                return std::filesystem::weakly_canonical(candidate, error);
            }
        }
        return std::nullopt;
    }

    bool isExecutableFile(const std::filesystem::path& path) const override {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
               ::access(path.c_str(), X_OK) == 0;
    }
};

} // namespace

std::unique_ptr<SystemEnvironment> makeLinuxSystemEnvironment() {
    return std::make_unique<LinuxSystemEnvironment>();
}

} // namespace quorvel::gtk
