#include "app/CommandLine.h"

#include "BuildConfig.h"

namespace quorvel {

std::string usageErrorLine(const std::string& problem) {
    return "quorvel: " + problem + " (see quorvel --help)\n";
}

CommandLineAnswer answerCommandLine(const CommandLineOptions& options) {
    // A mistyped command line starts nothing, whatever else it asks for.
    if (!options.arguments.empty()) {
        return {kUsageExitStatus,
                {},
                usageErrorLine("unexpected argument " + options.arguments.front())};
    }
    if (options.version) {
        return {0, std::string("Quorvel ") + build::version + "\n", {}};
    }
    return {};
}

} // namespace quorvel
