#pragma once

#include "platform/Interface.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace quorvel {

// Facts about the user, the process and the installed program.
struct SystemEnvironment : Interface {
    // Where per-user application data lives (the XDG data home).
    virtual std::filesystem::path userDataDirectory() const = 0;
    // The user's folder for downloads (the XDG download folder).
    virtual std::filesystem::path downloadDirectory() const = 0;
    // Without a trailing slash.
    virtual std::string homeDirectory() const = 0;
    virtual std::map<std::string, std::string> processEnvironment() const = 0;
    // A resource shipped with the program, e.g. ("web", "server.js").
    virtual std::optional<std::filesystem::path> resourcePath(const std::string& folder,
                                                              const std::string& name) const = 0;
    // Where per-user settings live (the XDG config home).
    virtual std::filesystem::path userConfigDirectory() const = 0;
    // The program's own executable, as started.
    virtual std::filesystem::path executablePath() const = 0;
    // True when the path exists, is a regular file and may be executed.
    virtual bool isExecutableFile(const std::filesystem::path& path) const = 0;
    // True when a program of this user could listen on the port of
    // 127.0.0.1 now: no other program holds it.
    virtual bool loopbackPortIsFree(int port) const = 0;
};

} // namespace quorvel
