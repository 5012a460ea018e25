#include "service/DiagnosticLog.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
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

namespace {

int openForAppending(const std::filesystem::path& file) {
    return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

// A log that the line would take past the limit is kept as the one before,
// and the line starts a new one. Where that cannot be done the line goes to
// the full file after all.
int startAnewIfFull(const std::filesystem::path& file, int fd, std::size_t lineSize) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 ||
        static_cast<std::uintmax_t>(info.st_size) + lineSize <= logSizeLimit) {
        return fd;
    }
    const std::string previous = file.string() + ".1";
    if (::fchmod(fd, 0600) != 0 || ::rename(file.c_str(), previous.c_str()) != 0) {
        return fd;
    }
    ::close(fd);
    return openForAppending(file);
}

} // namespace

void appendLogLine(const std::filesystem::path& file, std::string_view line) noexcept {
    const std::lock_guard lock(logMutex());
    int fd = openForAppending(file);
    if (fd < 0) {
        return;
    }
    fd = startAnewIfFull(file, fd, line.size());
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
