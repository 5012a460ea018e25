#pragma once

#include <filesystem>
#include <map>
#include <memory>
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
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    // Sends the termination signal and returns at once; no effect once the
    // child has exited.
    virtual void terminate() = 0;
};

struct LaunchResult {
    std::unique_ptr<ChildProcess> process; // set on success
    std::string errorDescription;          // set on failure
};

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts the child and returns without waiting for it to do anything.
    virtual LaunchResult launch(const ProcessSpec& details) = 0;
};

} // namespace quorvel
