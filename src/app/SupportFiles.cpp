#include "app/SupportFiles.h"

#include "app/AtomicFile.h"
#include "app/ConfigMigration.h"
#include "app/ConfigTemplate.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kNewConfigMode = 0600;

// Creates `folder` and its missing parents, each with kFolderMode. Folders that already exist
// keep their mode.
bool createFolders(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), kFolderMode) == 0 || errno == EEXIST) {
        return true;
    }
    if (errno != ENOENT) {
        return false;
    }
    const std::filesystem::path parent = folder.parent_path();
    if (parent.empty() || parent == folder || !createFolders(parent)) {
        return false;
    }
    return ::mkdir(folder.c_str(), kFolderMode) == 0 || errno == EEXIST;
}

struct ConfigFile {
    std::string text;
    mode_t mode = 0;
};

// Reads a whole regular file. O_NONBLOCK keeps a FIFO placed there from blocking start-up; it
// is then rejected as not regular.
std::optional<ConfigFile> readRegularFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<ConfigFile> result;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        ConfigFile config;
        config.mode = info.st_mode & 0777;
        std::array<char, 16384> buffer{};
        bool ok = true;
        for (;;) {
            const ssize_t count = ::read(fd, buffer.data(), buffer.size());
            if (count == 0) {
                break;
            }
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                ok = false;
                break;
            }
            config.text.append(buffer.data(), static_cast<std::size_t>(count));
        }
        if (ok) {
            result = std::move(config);
        }
    }
    ::close(fd);
    return result;
}

void migrateExistingConfig(const std::filesystem::path& configFile) {
    const std::optional<ConfigFile> current = readRegularFile(configFile);
    if (!current || !isValidUtf8(current->text)) {
        return;
    }
    const std::string migrated = migrateConfigText(current->text);
    if (migrated == current->text) {
        return;
    }
    // Replace the file a symbolic link points to rather than the link itself, so that a
    // configuration kept elsewhere by the user stays linked.
    std::filesystem::path target = configFile;
    std::error_code error;
    if (std::filesystem::is_symlink(configFile, error)) {
        target = std::filesystem::canonical(configFile, error);
        if (error) {
            return;
        }
    }
    writeFileAtomically(target, migrated, current->mode);
}

} // namespace

void createSupportFilesIn(const std::filesystem::path& dataFolder) noexcept {
    try {
        createFolders(dataFolder); // a failure shows up in the file steps below
        const std::filesystem::path configFile = dataFolder / ".env";
        struct stat info {};
        if (::stat(configFile.c_str(), &info) == 0) {
            migrateExistingConfig(configFile);
        } else if (errno == ENOENT) {
            writeFileAtomically(configFile, configTemplate(), kNewConfigMode);
        }
        // Any other error (no permission to look, a file where a folder should be, a loop of
        // links) leaves everything as it is.
    } catch (...) {
        // Start-up continues whatever happens here.
    }
}

} // namespace quorvel
