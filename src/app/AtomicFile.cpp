#include "app/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvel {

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename itself durable; a failure here does not undo the replacement.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool writeFileAtomically(const std::filesystem::path& target, std::string_view contents,
                         mode_t mode) noexcept {
    try {
        const std::filesystem::path parent = target.parent_path();
        const std::string folder = parent.empty() ? std::string(".") : parent.string();
        const std::string pattern =
            (parent / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
        std::vector<char> tempName(pattern.begin(), pattern.end());
        tempName.push_back('\0');

        const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        bool ok = writeAll(fd, contents) && ::fsync(fd) == 0 && ::fchmod(fd, mode & 07777) == 0;
        ok = (::close(fd) == 0) && ok;
        if (ok) {
            ok = ::rename(tempName.data(), target.c_str()) == 0;
        }
        if (!ok) {
            ::unlink(tempName.data());
            return false;
        }
        syncFolder(folder);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace quorvel
