#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace quorvel::testing {

// An empty folder of its own under the system's temporary folder,
// "quorvel-LABEL-PID-N"; when this goes, the folder goes with everything in
// it, even if a test left it read-only.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& label) {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("quorvel-" + label + "-" + std::to_string(::getpid()) + "-" +
                 std::to_string(++counter));
        std::filesystem::create_directories(path_);
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The file's bytes, or nothing when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The messages of a diagnostic log's lines, without their time stamps.
inline std::vector<std::string> logMessages(const std::filesystem::path& path) {
    std::vector<std::string> messages;
    std::istringstream lines(readFile(path));
    for (std::string line; std::getline(lines, line);) {
        const auto end = line.find("] ");
        messages.push_back(end == std::string::npos ? line : line.substr(end + 2));
    }
    return messages;
}

} // namespace quorvel::testing
