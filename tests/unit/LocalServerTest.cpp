#include "unit/AppFixture.h"

#include <gmock/gmock.h>

namespace quorvel::testing {
namespace {

class LocalServerTest : public AppFixture {
protected:
    void SetUp() override { makeApp(false); }
    void start() { app->applicationDidFinishLaunching(); }
    std::optional<AlertSpec> fatalAlert() const {
        for (const auto& alert : platform.shownAlerts) {
            if (alert.messageText == "Quorvel无法启动") {
                return alert;
            }
        }
        return std::nullopt;
    }
};

TEST_F(LocalServerTest, NodeCandidatesAreTriedInOrderAndMustBeExecutable) {
    platform.executableFiles = {"/usr/local/bin/node", "/opt/homebrew/bin/node", "/usr/bin/node"};
    EXPECT_EQ(app->findNodeExecutable(), "/opt/homebrew/bin/node");
    // A file at the first place that may not be run does not count.
    platform.executableFiles = {"/usr/local/bin/node", "/usr/bin/node"};
    EXPECT_EQ(app->findNodeExecutable(), "/usr/local/bin/node");
    platform.executableFiles = {
        "/home/user/.cache/codex-runtimes/codex-primary-runtime/dependencies/node/bin/node",
        "/usr/bin/node"};
    EXPECT_EQ(app->findNodeExecutable(),
              "/home/user/.cache/codex-runtimes/codex-primary-runtime/dependencies/node/bin/node");
    platform.executableFiles = {"/usr/bin/node"};
    EXPECT_EQ(app->findNodeExecutable(), "/usr/bin/node");
    // The search path is never consulted.
    platform.executableFiles = {"/bin/node"};
    platform.environmentVariables["PATH"] = "/bin";
    EXPECT_EQ(app->findNodeExecutable(), std::nullopt);
}

TEST_F(LocalServerTest, LaunchesNodeOnTheScriptWithItsEnvironment) {
    platform.environmentVariables["PORT"] = "5000"; // inherited values win
    platform.environmentVariables["LANG"] = "zh_CN.UTF-8";
    start();
    ASSERT_EQ(platform.launchedProcesses.size(), 1u);
    const ProcessSpec& details = platform.launchedProcesses[0];
    const std::string dataDir = (platform.dataDirectory / "Quorvel").string();
    EXPECT_EQ(details.executable, "/usr/bin/node");
    EXPECT_EQ(details.arguments, std::vector<std::string>{"/opt/quorvel/web/server.js"});
    EXPECT_EQ(details.workingDirectory, "/opt/quorvel/web");
    EXPECT_EQ(details.environment.at("PORT"), "5000");
    EXPECT_EQ(details.environment.at("DATA_DIR"), dataDir);
    EXPECT_NE(dataDir.back(), '/');
    EXPECT_EQ(details.environment.at("ENV_FILE"), dataDir + "/.env");
    EXPECT_EQ(details.environment.at("LANG"), "zh_CN.UTF-8");
    EXPECT_EQ(details.environment.at("PATH"), "/usr/bin:/bin");
    EXPECT_TRUE(app->hasServerProcess());
    // The probe still uses the fixed port.
    EXPECT_EQ(platform.sentRequests.at(0).url, "http://127.0.0.1:45721");
}

TEST_F(LocalServerTest, EachLaunchFailureEndsInItsFatalAlert) {
    platform.serverScript.reset();
    platform.executableFiles.clear(); // both missing: only the first message
    start();
    ASSERT_TRUE(fatalAlert());
    EXPECT_EQ(fatalAlert()->informativeText, "没有找到内置服务文件 server.js。");
    EXPECT_EQ(platform.shownAlerts.size(), 1u);
    EXPECT_EQ(fatalAlert()->style, AlertStyle::Critical);
    EXPECT_TRUE(fatalAlert()->buttons.empty());
}

TEST_F(LocalServerTest, MissingNodeEndsInItsFatalAlert) {
    platform.executableFiles.clear();
    start();
    ASSERT_TRUE(fatalAlert());
    EXPECT_EQ(fatalAlert()->informativeText,
              "没有找到 Node.js。请先安装 Node.js，或在 Codex 环境中运行。");
    EXPECT_TRUE(platform.launchedProcesses.empty());
}

TEST_F(LocalServerTest, FailedLaunchEndsInItsFatalAlert) {
    platform.launchError = "Permission denied";
    start();
    ASSERT_TRUE(fatalAlert());
    EXPECT_EQ(fatalAlert()->informativeText, "启动本地服务失败：Permission denied");
    EXPECT_FALSE(app->hasServerProcess());
    EXPECT_EQ(platform.count("application.terminate"), 1);
}

} // namespace
} // namespace quorvel::testing
