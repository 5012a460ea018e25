#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

namespace quorvel {

// Replaces `target` with `contents` so that a reader sees either the old file or the complete new
// one: the bytes go to a fresh temporary file in the same folder (created with mode 0600), are
// flushed to disk, get the permission bits `mode`, and the temporary file is then renamed over
// the target. On any failure the temporary file is removed, the target is left as it was and
// false is returned. Never throws.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view contents,
                         mode_t mode) noexcept;

} // namespace quorvel
