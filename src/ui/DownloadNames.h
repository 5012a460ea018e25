#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// A plain file name for what a page suggests for its download: no folders,
// no control characters, never "." or ".."; "download" when nothing is left.
std::string safeDownloadName(std::string_view suggested);

// The name to try for the `attempt`-th time: the name itself first, then
// "name (1).ext", "name (2).ext" … The extension stays last, also a double
// one (".tar.gz"); a name that is all extension (".bashrc") takes the number
// at its end.
std::string numberedDownloadName(std::string_view name, int attempt);

// Moves a complete download to the first numbered name that does not exist
// in `folder`, never replacing a file, also one that appears meanwhile. No
// value when it could not be moved (the download stays where it is).
std::optional<std::filesystem::path> moveToFreeName(const std::filesystem::path& from,
                                                    const std::filesystem::path& folder,
                                                    const std::string& name);

} // namespace quorvel
