#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvel {

// One line of the diagnostic log: "[" + UTC time stamp "YYYY-MM-DDTHH:MM:SSZ" + "] " + message
// + LF. The message is taken as it is, without escaping.
std::string formatLogLine(std::time_t now, std::string_view message);

// The size past which the log starts anew.
inline constexpr std::uintmax_t logSizeLimit = 10 * 1024 * 1024;

// Appends `line` to `file`, creating the file (mode 0600) when it is missing but never its
// folder. The whole line goes out in one append while a process-wide lock is held, so lines
// written from several threads never interleave. A line that would take the file past
// logSizeLimit goes to a new file instead; the old one is kept as `file` + ".1" (mode 0600),
// in place of an older one. Every failure drops the line silently.
void appendLogLine(const std::filesystem::path& file, std::string_view line) noexcept;

} // namespace quorvel
