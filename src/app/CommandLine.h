#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// The command line as the option parser read it.
struct CommandLineOptions {
    bool version = false;
    bool background = false;
    // Whatever was left that is not an option.
    std::vector<std::string> arguments;
};

// What the program does with its command line before anything starts: end at
// once with a status and a text, or go on and start the shell.
struct CommandLineAnswer {
    std::optional<int> exitStatus;
    std::string standardOutput;
    std::string standardError;
};

// Status 2 for a command line the program does not understand, as for an
// unknown option.
inline constexpr int kUsageExitStatus = 2;

CommandLineAnswer answerCommandLine(const CommandLineOptions& options);

// The one line that says an option or argument is not understood.
std::string usageErrorLine(const std::string& problem);

} // namespace quorvel
