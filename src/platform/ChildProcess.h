#pragma once

#include "platform/Interface.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

struct ProcessSpec {
    std::filesystem::path executable;
    std::vector<std::string> arguments;
    std::filesystem::path workingDirectory;
    std::map<std::string, std::string> environment;
};

// A launched child process; standard streams are inherited.
struct ChildProcess : Interface {
    // Sends the termination signal and returns at once; no effect once the
    // child has exited.
    virtual void terminate() = 0;
    // Sends the kill signal, which ends also a child that is stopped or
    // ignores the termination signal; no effect once the child has exited.
    virtual void kill() = 0;
};

// How a child ended: its exit status, or the signal that ended it.
struct ProcessExit {
    std::optional<int> exitStatus;
    std::optional<int> signal;
};

struct LaunchResult {
    std::unique_ptr<ChildProcess> process; // set on success
    std::string errorDescription;          // set on failure
};

struct ProcessLauncher : Interface {
    // Starts the child and returns without waiting for it to do anything.
    // `exited` runs once, later, on the main loop when the child has ended,
    // unless its handle was destroyed first.
    virtual LaunchResult launch(const ProcessSpec& details,
                                std::function<void(const ProcessExit&)> exited) = 0;
};

} // namespace quorvel
