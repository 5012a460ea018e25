#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

// The XDG autostart entry that starts the shell in the background at login.
// Its name is the application id's, in `<config home>/autostart`.
std::filesystem::path autostartEntryPath(const std::filesystem::path& configDirectory);

// The entry's text: it starts `program --background`.
std::string autostartEntryText(const std::filesystem::path& program);

// A program path as one argument of a desktop entry's Exec key, quoted where
// it must be and escaped for the entry's string syntax.
std::string desktopEntryExecArgument(const std::string& argument);

} // namespace quorvel
