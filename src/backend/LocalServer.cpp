#include "app/AppDelegate.h"
#include "service/LogEvents.h"

#include <random>
#include <vector>

namespace quorvel {

namespace {
// 128 bits from the system's random source, in hexadecimal.
std::string makeServiceToken() {
    std::random_device source;
    static constexpr char digits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        for (unsigned bits = source(), n = 0; n < 8; ++n, bits >>= 4) {
            token += digits[bits & 0xF];
        }
    }
    return token;
}
} // namespace

std::optional<std::string> AppDelegate::findNodeExecutable() const {
    const SystemEnvironment& environment = platform.environment();
    const std::vector<std::string> candidates = {
        "/opt/homebrew/bin/node",
        "/usr/local/bin/node",
        "/Applications/Codex.app/Contents/Resources/node",
        environment.homeDirectory() +
            "/.cache/codex-runtimes/codex-primary-runtime/dependencies/node/bin/node",
        // Where the distribution's package installs it.
        "/usr/bin/node",
    };
    for (const std::string& candidate : candidates) {
        if (environment.isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

void AppDelegate::startServer() {
    const SystemEnvironment& environment = platform.environment();
    const auto script = environment.resourcePath("web", "server.js");
    if (!script) {
        showFatalAlert("没有找到内置服务文件 server.js。");
        return;
    }
    const auto node = findNodeExecutable();
    if (!node) {
        showFatalAlert("没有找到 Node.js。请先安装 Node.js（例如 sudo apt install nodejs）。");
        return;
    }
    const auto freePort = chooseServicePort();
    if (!freePort) {
        log(logevent::servicePortTaken, "local server port taken by another program");
        showFatalAlert("端口 " + firstPort + " 已被其他程序占用，无法启动本地服务。");
        return;
    }
    port = *freePort;
    const std::filesystem::path dataFolder = appSupport.value_or(std::filesystem::path{});
    const std::filesystem::path configFile = dataFolder / ".env";

    ProcessSpec details;
    details.executable = *node;
    details.arguments = {script->string()};
    details.workingDirectory = script->parent_path();
    details.environment = environment.processEnvironment();
    // The port is the one the shell found free and talks to, whatever the
    // user's environment says; for the others values it defines win.
    details.environment.insert_or_assign("PORT", port);
    details.environment.emplace("DATA_DIR", dataFolder.string());
    details.environment.emplace("ENV_FILE", configFile.string());
    // The service answers only requests that carry the token, and sends the
    // proof back with every answer, which tells its answers from those of
    // any other program on the port. Both are the shell's own: an inherited
    // value would be known to others.
    serviceTokenValue = makeServiceToken();
    serviceProofValue = makeServiceToken();
    details.environment.insert_or_assign("QUORVEL_SERVICE_TOKEN", serviceTokenValue);
    details.environment.insert_or_assign("QUORVEL_SERVICE_PROOF", serviceProofValue);
    serverSpec = std::move(details);

    if (const auto failure = launchServer()) {
        showFatalAlert("启动本地服务失败：" + *failure);
    }
}

// Another user's service may hold the first port: the next ones are tried,
// as many as a notebook server tries.
std::optional<std::string> AppDelegate::chooseServicePort() const {
    constexpr int portsToTry = 21;
    const int first = std::stoi(firstPort);
    for (int candidate = first; candidate < first + portsToTry && candidate <= 65535; ++candidate) {
        if (platform.environment().loopbackPortIsFree(candidate)) {
            return std::to_string(candidate);
        }
    }
    return std::nullopt;
}

// Another program took the port between the check and the child's bind:
// the child, which then ends with its own status, moves to a free one.
bool AppDelegate::moveServiceToFreePort() {
    const auto freePort = chooseServicePort();
    if (!freePort) {
        return false;
    }
    log(logevent::servicePortMoved, "local server port " + port + " taken, moving to " + *freePort);
    port = *freePort;
    serverSpec.environment.insert_or_assign("PORT", port);
    return true;
}

// Starts a child as described by serverSpec (every child of this run is
// started alike); returns why it could not start.
std::optional<std::string> AppDelegate::launchServer() {
    // The exit of a child is reported only while its handle is kept.
    LaunchResult launched = platform.processLauncher().launch(
        serverSpec, [this](const ProcessExit& how) { serverProcessDidExit(how); });
    if (!launched.process) {
        return launched.errorDescription;
    }
    serverStartedAt = platform.mainQueue().now();
    serverProcess = std::move(launched.process);
    return std::nullopt;
}

} // namespace quorvel
