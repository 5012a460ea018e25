#include "platform/gtk/LinuxSystemEnvironment.h"

#include <arpa/inet.h>
#include <cstdint>
#include <glib.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

    // The XDG download folder; without one set, "Downloads" in the home
    // folder, as the desktop's file chooser would take it.
    std::filesystem::path downloadDirectory() const override {
        if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD)) {
            return folder;
        }
        return std::filesystem::path(homeDirectory()) / "Downloads";
    }

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

    // Bound as the service binds (Node sets SO_REUSEADDR), so that a port
    // left in TIME_WAIT by an earlier run counts as free, as it is for it.
    bool loopbackPortIsFree(int port) const override {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool free =
            ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return free;
    }
};

} // namespace

std::unique_ptr<SystemEnvironment> makeLinuxSystemEnvironment() {
    return std::make_unique<LinuxSystemEnvironment>();
}

} // namespace quorvel::gtk
