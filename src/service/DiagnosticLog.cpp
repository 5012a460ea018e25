#include "service/DiagnosticLog.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace quorvel {

namespace {

std::mutex& logMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

std::string formatLogLine(std::time_t now, std::string_view message) {
    std::array<char, 32> stamp{};
    std::tm utc{};
    if (::gmtime_r(&now, &utc) == nullptr ||
        std::strftime(stamp.data(), stamp.size(), "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        // Only a clock far outside any calendar gets here; the line is still worth keeping.
        stamp = {"0000-00-00T00:00:00Z"};
    }
    std::string line;
    line.reserve(message.size() + 24);
    line.append("[").append(stamp.data()).append("] ").append(message).append("\n");
    return line;
}

void appendLogLine(const std::filesystem::path& file, std::string_view line) noexcept {
    const std::lock_guard lock(logMutex());
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    while (!line.empty()) {
        const ssize_t written = ::write(fd, line.data(), line.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        line.remove_prefix(static_cast<std::size_t>(written));
    }
    ::close(fd);
}

} // namespace quorvel
