#include "app/AppDelegate.h"

#include <vector>

namespace quorvel {

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
        showFatalAlert("没有找到 Node.js。请先安装 Node.js，或在 Codex 环境中运行。");
        return;
    }
    const std::filesystem::path dataFolder = appSupport.value_or(std::filesystem::path{});
    const std::filesystem::path configFile = dataFolder / ".env";

    ProcessSpec details;
    details.executable = *node;
    details.arguments = {script->string()};
    details.workingDirectory = script->parent_path();
    details.environment = environment.processEnvironment();
    // Values the user's environment already defines win.
    details.environment.emplace("PORT", port);
    details.environment.emplace("DATA_DIR", dataFolder.string());
    details.environment.emplace("ENV_FILE", configFile.string());

    LaunchResult launched = platform.processLauncher().launch(details);
    if (!launched.process) {
        showFatalAlert("启动本地服务失败：" + launched.errorDescription);
        return;
    }
    serverProcess = std::move(launched.process);
}

} // namespace quorvel
