#pragma once

#include <filesystem>

namespace quorvel {

// Makes sure `dataFolder` exists and holds the configuration file ".env":
//  - missing folders are created with mode 0700 (an existing folder is left as it is);
//  - no ".env": the template is written atomically with mode 0600;
//  - otherwise the file is migrated (migrateConfigText) and written back atomically, keeping
//    its permission bits, but only when the text changed; a file that cannot be read or is not
//    valid UTF-8 is never touched. A symbolic link ".env" is followed: its target is migrated.
// Every failure is silent; the function never throws.
void createSupportFilesIn(const std::filesystem::path& dataFolder) noexcept;

} // namespace quorvel
