#include "ui/DownloadNames.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace quorvel {

namespace {

// The longest a name may be on the usual file systems, in bytes, leaving room
// for a number and a temporary suffix.
constexpr std::size_t longestName = 200;

// A cut that does not split a UTF-8 sequence.
std::string cutToBytes(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

// Where the extension begins: the last dot, or the one before ".gz" etc. of
// a tar archive; npos for none (a leading dot starts no extension).
std::size_t extensionStart(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::string_view::npos;
    }
    constexpr std::array compressed{".gz", ".bz2", ".xz", ".zst", ".lz", ".Z"};
    for (const std::string_view suffix : compressed) {
        if (name.substr(dot) == suffix && dot >= 5 && name.substr(dot - 4, 4) == ".tar") {
            return dot - 4;
        }
    }
    return dot;
}

bool moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the flag: a new link fails on a name that
    // exists, too.
    if (link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    unlink(from.c_str());
    return true;
}

} // namespace

std::string safeDownloadName(std::string_view suggested) {
    const std::size_t slash = suggested.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        suggested.remove_prefix(slash + 1);
    }
    std::string name;
    for (const char c : suggested) {
        const auto byte = static_cast<unsigned char>(c);
        name.push_back(byte < 0x20 || byte == 0x7F ? '_' : c);
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.pop_back();
    }
    while (!name.empty() && name.front() == ' ') {
        name.erase(name.begin());
    }
    if (name.empty() || name == "." || name == "..") {
        return "download";
    }
    if (name.size() > longestName) {
        const std::size_t start = extensionStart(name);
        const std::string extension =
            start == std::string::npos ? "" : cutToBytes(name.substr(start), 20);
        name = cutToBytes(name.substr(0, start), longestName - extension.size()) + extension;
    }
    return name;
}

std::string numberedDownloadName(std::string_view name, int attempt) {
    if (attempt <= 0) {
        return std::string(name);
    }
    const std::size_t start = extensionStart(name);
    const std::string number = " (" + std::to_string(attempt) + ")";
    if (start == std::string_view::npos) {
        return std::string(name) + number;
    }
    return std::string(name.substr(0, start)) + number + std::string(name.substr(start));
}

std::optional<std::filesystem::path> moveToFreeName(const std::filesystem::path& from,
                                                    const std::filesystem::path& folder,
                                                    const std::string& name) {
    constexpr int attempts = 10000;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::filesystem::path to = folder / numberedDownloadName(name, attempt);
        if (moveWithoutReplacing(from, to)) {
            return to;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace quorvel
