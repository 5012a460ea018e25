#include "unit/AppFixture.h"

#include <iterator>

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
    platform.environmentVariables["PORT"] = "5000"; // the shell's port wins
    platform.environmentVariables["LANG"] = "zh_CN.UTF-8";
    platform.environmentVariables["QUORVEL_SERVICE_TOKEN"] = "known-to-others";
    platform.environmentVariables["QUORVEL_SERVICE_PROOF"] = "known-to-others";
    start();
    ASSERT_EQ(platform.launchedProcesses.size(), 1u);
    const ProcessSpec& details = platform.launchedProcesses[0];
    const std::string dataDir = (platform.dataDirectory / "Quorvel").string();
    EXPECT_EQ(details.executable, "/usr/bin/node");
    EXPECT_EQ(details.arguments, std::vector<std::string>{"/opt/quorvel/web/server.js"});
    EXPECT_EQ(details.workingDirectory, "/opt/quorvel/web");
    EXPECT_EQ(details.environment.at("PORT"), "45721");
    EXPECT_EQ(details.environment.at("DATA_DIR"), dataDir);
    EXPECT_NE(dataDir.back(), '/');
    EXPECT_EQ(details.environment.at("ENV_FILE"), dataDir + "/.env");
    EXPECT_EQ(details.environment.at("LANG"), "zh_CN.UTF-8");
    EXPECT_EQ(details.environment.at("PATH"), "/usr/bin:/bin");
    // The token is the shell's own, whatever the environment holds.
    EXPECT_EQ(details.environment.at("QUORVEL_SERVICE_TOKEN"), app->serviceToken());
    EXPECT_EQ(app->serviceToken().size(), 32u);
    EXPECT_EQ(details.environment.at("QUORVEL_SERVICE_PROOF"), app->serviceProof());
    EXPECT_EQ(app->serviceProof().size(), 32u);
    EXPECT_NE(app->serviceProof(), app->serviceToken());
    EXPECT_TRUE(app->hasServerProcess());
    EXPECT_EQ(platform.sentRequests.at(0).url, "http://127.0.0.1:45721");
}

// Another user's service holds the first ports: the first free one after
// them is the service's, and everything the shell does goes there.
TEST_F(LocalServerTest, TheServiceListensOnTheFirstPortNoOtherProgramHolds) {
    platform.takenPorts = {45721, 45722, 45724};
    start();
    EXPECT_EQ(platform.launchedProcesses.at(0).environment.at("PORT"), "45723");
    EXPECT_EQ(platform.sentRequests.at(0).url, "http://127.0.0.1:45723");
    platform.completeRequestWithStatus(200);
    platform.runMainQueue();
    EXPECT_EQ(platform.count("webView.load http://127.0.0.1:45723 cache=0"), 1);
    EXPECT_EQ(platform.sentRequests.back().url,
              "http://127.0.0.1:45723/api/desktop-notifications/initialize");
    app->copyAppURL();
    EXPECT_EQ(platform.clipboard, "http://127.0.0.1:45723/?token=" + app->serviceToken());
}

TEST_F(LocalServerTest, WithEveryPortTakenStartUpEndsInTheAlertAboutTheFirst) {
    for (int port = 45721; port <= 45741; ++port) {
        platform.takenPorts.insert(port);
    }
    start();
    ASSERT_TRUE(fatalAlert());
    EXPECT_EQ(fatalAlert()->informativeText, "端口 45721 已被其他程序占用，无法启动本地服务。");
    EXPECT_TRUE(platform.launchedProcesses.empty());
    EXPECT_TRUE(platform.sentRequests.empty());
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
              "没有找到 Node.js。请先安装 Node.js（例如 sudo apt install nodejs）。");
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

// The service answers the start-up probe, then ends again and again.
class ServerSupervisionTest : public LocalServerTest {
protected:
    void SetUp() override {
        LocalServerTest::SetUp();
        start();
        platform.completeRequestWithStatus(200);
        platform.runMainQueue();
        platform.finishNavigation();
        platform.pendingRequests.clear();
        platform.calls.clear();
    }
    // Seconds from the child's end to the next launch.
    double timeToRelaunch(ProcessExit how = ProcessExit{1, std::nullopt}) {
        const std::size_t launches = platform.launchedProcesses.size();
        platform.exitNewestProcess(how);
        platform.runMainQueue();
        const double endedAt = platform.mainQueue().now();
        while (platform.launchedProcesses.size() == launches) {
            platform.advance(0.5);
            if (platform.mainQueue().now() - endedAt > 600) {
                return -1;
            }
        }
        return platform.mainQueue().now() - endedAt;
    }
};

TEST_F(ServerSupervisionTest, AnEndedServiceIsStartedAgainAlikeAfterGrowingDelays) {
    std::vector<double> delays;
    for (int i = 0; i < 7; ++i) {
        delays.push_back(timeToRelaunch(i == 0 ? ProcessExit{std::nullopt, 9} : ProcessExit{}));
    }
    EXPECT_THAT(delays, ::testing::ElementsAre(1, 2, 4, 8, 16, 30, 30));
    // Each child is started as the first was, token included.
    ASSERT_EQ(platform.launchedProcesses.size(), 8u);
    for (const ProcessSpec& child : platform.launchedProcesses) {
        EXPECT_EQ(child.executable, platform.launchedProcesses[0].executable);
        EXPECT_EQ(child.arguments, platform.launchedProcesses[0].arguments);
        EXPECT_EQ(child.workingDirectory, platform.launchedProcesses[0].workingDirectory);
        EXPECT_EQ(child.environment, platform.launchedProcesses[0].environment);
    }
    // A child that ran for a minute was healthy: the next restart is quick.
    platform.advance(60);
    EXPECT_EQ(timeToRelaunch(), 1);

    const std::string log = logText();
    EXPECT_NE(log.find("local server exited signal=9"), std::string::npos);
    EXPECT_NE(log.find("local server exited status=1"), std::string::npos);
    EXPECT_NE(log.find("local server restart in 30s"), std::string::npos);
}

TEST_F(ServerSupervisionTest, QuittingStartsNothingAndLeavesNoChild) {
    platform.exitNewestProcess();
    platform.runMainQueue();
    platform.application().terminate(); // while the restart waits
    platform.advance(60);
    EXPECT_EQ(platform.launchedProcesses.size(), 1u);
    EXPECT_EQ(platform.count("process.terminate"), 0); // no child left to end

    // A child that ends because the shell quits is not restarted either.
    FakePlatform other;
    auto second = std::make_shared<AppDelegate>(other, false);
    other.application().setDelegate(second.get());
    second->applicationDidFinishLaunching();
    other.application().terminate();
    other.exitNewestProcess(ProcessExit{std::nullopt, 15});
    other.advance(60);
    EXPECT_EQ(other.launchedProcesses.size(), 1u);
    EXPECT_EQ(other.count("process.terminate"), 1);
}

TEST_F(ServerSupervisionTest, ASilentMinuteIsToldOnceAndAFailedPageLoadsWhenTheServiceIsBack) {
    platform.failNavigation(); // the page's reload while the service is down
    platform.exitNewestProcess();
    platform.runMainQueue();
    // Restarted children that end before they answer.
    platform.advance(1);
    platform.exitNewestProcess();
    platform.advance(2);
    ASSERT_EQ(platform.launchedProcesses.size(), 3u);
    platform.failRequest(); // the new child does not answer yet
    platform.advance(56.5);
    EXPECT_EQ(platform.count("notificationCenter.add") + platform.count("alert"), 0);
    platform.advance(0.5);
    ASSERT_EQ(platform.shownAlerts.size(), 1u); // no permission: the fallback
    EXPECT_EQ(platform.shownAlerts[0].messageText, "Quorvel");
    EXPECT_EQ(platform.shownAlerts[0].informativeText,
              "本地服务已停止运行，正在自动重启；恢复之前不会收到新的提醒。");
    platform.advance(600);
    EXPECT_EQ(platform.shownAlerts.size(), 1u);

    // It answers at last: the failed page is loaded at once.
    platform.calls.clear();
    while (!platform.pendingRequests.empty() &&
           platform.pendingRequests.front().request.url != "http://127.0.0.1:45721") {
        platform.pendingRequests.pop_front();
    }
    ASSERT_FALSE(platform.pendingRequests.empty());
    platform.completeRequestWithStatus(200);
    EXPECT_EQ(platform.count("webView.load http://127.0.0.1:45721 cache=0"), 1);
}

TEST_F(ServerSupervisionTest, AServiceThatAnswersNothingForAMinuteIsEndedAndStartedAgain) {
    app->startDesktopNotificationPolling();
    // Error statuses are answers: such a service is left running.
    for (int poll = 0; poll < 20; ++poll) {
        platform.completeRequestWithStatus(500);
        platform.advance(8);
    }
    // Then nothing answers: the poll under way waits for its time-out.
    platform.advance(50);
    platform.failRequest("Socket I/O timed out");
    EXPECT_EQ(platform.count("process.terminate"), 0); // 58 s of silence
    platform.advance(8);
    platform.failRequest("Socket I/O timed out");
    EXPECT_EQ(platform.count("process.terminate"), 1);
    platform.advance(4.9);
    EXPECT_EQ(platform.count("process.kill"), 0);
    platform.advance(0.1);
    EXPECT_EQ(platform.count("process.kill"), 1);
    platform.advance(8);
    platform.failRequest("Could not connect: Connection refused");
    EXPECT_EQ(platform.count("process.terminate"), 1);
    // Only its exit starts the next child, one second later.
    EXPECT_EQ(platform.launchedProcesses.size(), 1u);
    platform.exitNewestProcess(ProcessExit{std::nullopt, 9});
    platform.advance(1);
    EXPECT_EQ(platform.launchedProcesses.size(), 2u);
    platform.failRequest();
    EXPECT_EQ(platform.count("process.terminate"), 1); // the new child has its own minute
    EXPECT_NE(logText().find("local server not answering for 60 s, ending it"), std::string::npos);
}

TEST_F(ServerSupervisionTest, AnOutageOfTheServiceIsToldOnceAndItsEndOnce) {
    app->startDesktopNotificationPolling();
    platform.exitNewestProcess();
    for (int step = 0; step < 600; ++step) { // restarted children that never answer
        while (!platform.pendingRequests.empty()) {
            platform.failRequest();
        }
        platform.advance(0.5);
    }
    ASSERT_EQ(platform.shownAlerts.size(), 1u);
    EXPECT_EQ(platform.shownAlerts[0].informativeText,
              "本地服务已停止运行，正在自动重启；恢复之前不会收到新的提醒。");
    EXPECT_EQ(platform.statusItemIcon, StatusIcon::Paused);

    for (int step = 0; step < 40; ++step) {
        while (!platform.pendingRequests.empty()) {
            platform.completeRequestWithStatus(200, R"({"notifications":[]})");
        }
        platform.advance(0.5);
    }
    ASSERT_EQ(platform.shownAlerts.size(), 2u);
    EXPECT_EQ(platform.shownAlerts[1].informativeText, "云端提醒服务已恢复。");
    EXPECT_EQ(platform.statusItemIcon, StatusIcon::Normal);
}

} // namespace
} // namespace quorvel::testing
