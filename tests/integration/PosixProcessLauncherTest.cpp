#include "platform/gtk/PosixProcessLauncher.h"

#include "fake/TestFiles.h"
#include "integration/MainLoop.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using quorvel::testing::readFile;
using ::testing::HasSubstr;

// A service reduced to what the shell does with it: writes its pid to "pid",
// notes a SIGTERM in "term" and ends on it, and otherwise runs until killed.
const char* const serverNotingTerm = R"(
    trap 'echo term > "$OUT/term.tmp"; mv "$OUT/term.tmp" "$OUT/term"; exit 0' TERM
    echo $$ > "$OUT/pid.tmp" && mv "$OUT/pid.tmp" "$OUT/pid"
    while :; do sleep 0.05; done
)";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// Waits on the main loop, so the child watch can reap exited children.
bool waitForFile(const fs::path& path, double seconds = 10.0) {
    return gtk::iterateMainLoopUntil([&] { return fs::exists(path); }, seconds);
}

bool processIsGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Whether the process has stopped (state "T" in /proc/PID/stat).
bool processIsStopped(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto end = line.rfind(')');
    return end != std::string::npos && line.size() > end + 2 && line[end + 2] == 'T';
}

// Kills a child that a failing test left running.
struct KillWhenDone {
    pid_t pid;
    ~KillWhenDone() {
        if (!processIsGone(pid)) {
            ::kill(pid, SIGKILL);
        }
    }
};

// A folder of its own for each test, removed afterwards. A child process of a
// death test finds its parent's folder through the environment.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* variable) : variable_(variable) {
        if (const char* inherited = std::getenv(variable)) {
            path_ = inherited;
            return;
        }
        std::string pattern = (fs::temp_directory_path() / "quorvel-launch-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
        ::setenv(variable, path_.c_str(), 1);
        owner_ = true;
    }
    ~ScratchFolder() {
        if (owner_) {
            ::unsetenv(variable_);
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    const char* variable_;
    fs::path path_;
    bool owner_ = false;
};

class PosixProcessLauncherTest : public ::testing::Test {
protected:
    // /bin/sh running `script`; its results are moved into place whole.
    ProcessSpec shell(const std::string& script) {
        ProcessSpec details;
        details.executable = "/bin/sh";
        details.arguments = {"-c", script};
        details.workingDirectory = folder_.path();
        details.environment = {{"PATH", "/usr/bin:/bin"}, {"OUT", folder_.path().string()}};
        return details;
    }
    // The pid the child wrote to "pid", once it has; 0 if it never did.
    pid_t childPid() {
        const fs::path file = folder_.path() / "pid";
        return waitForFile(file) ? std::stoi(readFile(file)) : 0;
    }

    ScratchFolder folder_{"QUORVEL_TEST_LAUNCH_FOLDER"};
    std::unique_ptr<ProcessLauncher> launcher_ = gtk::makePosixProcessLauncher();
};

TEST_F(PosixProcessLauncherTest, ChildGetsExactlyTheGivenArgumentsEnvironmentAndFolder) {
    const fs::path workFolder = folder_.path() / "web dir";
    fs::create_directory(workFolder);
    ProcessSpec details = shell(R"(
        cat /proc/$$/cmdline > "$OUT/argv.tmp" && mv "$OUT/argv.tmp" "$OUT/argv"
        pwd > "$OUT/cwd.tmp" && mv "$OUT/cwd.tmp" "$OUT/cwd"
        env > "$OUT/env.tmp" && mv "$OUT/env.tmp" "$OUT/env"
    )");
    details.arguments.insert(details.arguments.end(), {"zero", "with space", ""});
    details.workingDirectory = workFolder;
    details.environment["PORT"] = "45721";
    details.environment["DATA_DIR"] = "/home/u/.local/share/Quorvel";
    details.environment["EMPTY"] = "";
    ::setenv("QUORVEL_ONLY_IN_THE_SHELL", "1", 1);

    const LaunchResult launched = launcher_->launch(details, {});
    ::unsetenv("QUORVEL_ONLY_IN_THE_SHELL");
    ASSERT_TRUE(launched.process) << launched.errorDescription;
    ASSERT_TRUE(waitForFile(folder_.path() / "env"));

    // NUL-terminated, as the kernel keeps them.
    std::string argv;
    for (const std::string& argument :
         {std::string("/bin/sh"), std::string("-c"), details.arguments[1], std::string("zero"),
          std::string("with space"), std::string()}) {
        argv += argument + '\0';
    }
    EXPECT_EQ(readFile(folder_.path() / "argv"), argv);
    EXPECT_EQ(readFile(folder_.path() / "cwd"), workFolder.string() + "\n");
    std::set<std::string> environment;
    for (const auto& line : lines(readFile(folder_.path() / "env"))) {
        // Variables the shell itself sets.
        if (line.rfind("PWD=", 0) != 0 && line.rfind("SHLVL=", 0) != 0 &&
            line.rfind("_=", 0) != 0) {
            environment.insert(line);
        }
    }
    EXPECT_EQ(environment, (std::set<std::string>{
                               "PATH=/usr/bin:/bin", "OUT=" + folder_.path().string(), "PORT=45721",
                               "DATA_DIR=/home/u/.local/share/Quorvel", "EMPTY="}));
}

TEST_F(PosixProcessLauncherTest, StandardStreamsAreInheritedAndNothingElse) {
    const fs::path output = folder_.path() / "stdout";
    const int stray = ::open((folder_.path() / "stray").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(stray, 3);
    ProcessSpec details = shell("echo to-stdout; if [ -e /proc/$$/fd/$STRAY ]; then echo leaked; "
                                "else echo closed; fi; echo done > \"$OUT/done\"");
    details.environment["STRAY"] = std::to_string(stray);

    // The child's standard output is whatever the shell's is at launch.
    const int savedStdout = ::dup(STDOUT_FILENO);
    const int file = ::open(output.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ::dup2(file, STDOUT_FILENO);
    const LaunchResult launched = launcher_->launch(details, {});
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    ::close(file);
    ::close(stray);

    ASSERT_TRUE(launched.process) << launched.errorDescription;
    ASSERT_TRUE(waitForFile(folder_.path() / "done"));
    EXPECT_EQ(readFile(output), "to-stdout\nclosed\n");
}

TEST_F(PosixProcessLauncherTest, FailuresToStartAreDescribed) {
    const fs::path notExecutable = folder_.path() / "server.js";
    std::ofstream(notExecutable) << "console.log(1)\n";

    struct Case {
        fs::path executable;
        fs::path workingDirectory;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {folder_.path() / "missing" / "node",
         folder_.path(),
         {"No such file or directory", (folder_.path() / "missing" / "node").string()}},
        {notExecutable, folder_.path(), {"Permission denied"}},
        {folder_.path(), folder_.path(), {"Permission denied"}},
        {"/bin/sh",
         folder_.path() / "no such folder",
         {"No such file or directory", (folder_.path() / "no such folder").string()}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.executable.string() + " in " + testCase.workingDirectory.string());
        ProcessSpec details;
        details.executable = testCase.executable;
        details.workingDirectory = testCase.workingDirectory;
        const LaunchResult launched = launcher_->launch(details, {});
        EXPECT_FALSE(launched.process);
        for (const auto& text : testCase.expected) {
            EXPECT_THAT(launched.errorDescription, HasSubstr(text));
        }
    }
}

TEST_F(PosixProcessLauncherTest, TerminateSendsSigtermAndTheExitedChildIsReaped) {
    const LaunchResult launched = launcher_->launch(shell(serverNotingTerm), {});
    ASSERT_TRUE(launched.process) << launched.errorDescription;
    const pid_t pid = childPid();
    ASSERT_GT(pid, 0);
    const KillWhenDone cleanup{pid};

    launched.process->terminate();
    EXPECT_TRUE(waitForFile(folder_.path() / "term"));
    // Reaped on the main loop: not even a zombie stays.
    EXPECT_TRUE(gtk::iterateMainLoopUntil([&] { return processIsGone(pid); }, 10.0));
    // Once reaped, terminate() has nothing to signal.
    launched.process->terminate();
}

TEST_F(PosixProcessLauncherTest, KillEndsAStoppedChildThatTerminateLeftRunning) {
    const ProcessSpec server = shell(R"(
        echo $$ > "$OUT/pid.tmp" && mv "$OUT/pid.tmp" "$OUT/pid"
        while :; do sleep 0.05; done
    )");
    std::optional<ProcessExit> ended;
    const LaunchResult launched =
        launcher_->launch(server, [&](const ProcessExit& how) { ended = how; });
    ASSERT_TRUE(launched.process) << launched.errorDescription;
    const pid_t pid = childPid();
    ASSERT_GT(pid, 0);
    const KillWhenDone cleanup{pid};

    ::kill(pid, SIGSTOP); // hung: the termination signal waits
    // A stop still pending would come after the termination signal.
    ASSERT_TRUE(gtk::iterateMainLoopUntil([&] { return processIsStopped(pid); }, 10.0));
    launched.process->terminate();
    launched.process->kill();
    ASSERT_TRUE(gtk::iterateMainLoopUntil([&] { return ended.has_value(); }, 10.0));
    EXPECT_EQ(ended->signal, SIGKILL);
    launched.process->kill(); // reaped: nothing to signal
}

TEST_F(PosixProcessLauncherTest, HowTheChildEndedIsReportedOnceUnlessItsHandleIsGone) {
    struct Case {
        const char* script;
        std::optional<int> exitStatus;
        std::optional<int> signal;
    };
    for (const Case& testCase :
         {Case{"exit 3", 3, std::nullopt}, Case{"kill -KILL $$", std::nullopt, SIGKILL}}) {
        SCOPED_TRACE(testCase.script);
        std::vector<ProcessExit> exits;
        const LaunchResult launched = launcher_->launch(
            shell(testCase.script), [&](const ProcessExit& exit) { exits.push_back(exit); });
        ASSERT_TRUE(launched.process) << launched.errorDescription;
        EXPECT_TRUE(gtk::iterateMainLoopUntil([&] { return !exits.empty(); }, 10.0));
        gtk::iterateMainLoopUntil([] { return false; }, 0.1);
        ASSERT_EQ(exits.size(), 1u);
        EXPECT_EQ(exits[0].exitStatus, testCase.exitStatus);
        EXPECT_EQ(exits[0].signal, testCase.signal);
    }

    // Without its handle the child still runs to its end and is reaped, in
    // silence.
    int calls = 0;
    const ProcessSpec sleeper = shell(R"(
        echo $$ > "$OUT/pid.tmp" && mv "$OUT/pid.tmp" "$OUT/pid"
        sleep 0.3; echo done > "$OUT/done"
    )");
    LaunchResult launched = launcher_->launch(sleeper, [&](const ProcessExit&) { ++calls; });
    ASSERT_TRUE(launched.process) << launched.errorDescription;
    launched.process.reset();
    const pid_t pid = childPid();
    ASSERT_GT(pid, 0);
    const KillWhenDone cleanup{pid};
    EXPECT_TRUE(waitForFile(folder_.path() / "done"));
    EXPECT_TRUE(gtk::iterateMainLoopUntil([&] { return processIsGone(pid); }, 10.0));
    gtk::iterateMainLoopUntil([] { return false; }, 0.1);
    EXPECT_EQ(calls, 0);
}

// The shell is killed outright: its child still gets SIGTERM from the kernel.
TEST_F(PosixProcessLauncherTest, ChildGetsSigtermWhenTheShellIsKilled) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path folder = folder_.path();
    // The death test's child process plays the shell: it launches the server,
    // waits until it runs, then dies by SIGKILL.
    const auto playTheShell = [&] {
        const LaunchResult launched = launcher_->launch(shell(serverNotingTerm), {});
        for (int i = 0; i < 1000 && launched.process && !fs::exists(folder / "pid"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::raise(SIGKILL);
    };
    EXPECT_EXIT(playTheShell(), ::testing::KilledBySignal(SIGKILL), "");

    const pid_t pid = childPid();
    ASSERT_GT(pid, 0);
    const KillWhenDone cleanup{pid};
    EXPECT_TRUE(waitForFile(folder / "term"));
    for (int i = 0; i < 500 && !processIsGone(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(processIsGone(pid));
}

} // namespace
} // namespace quorvel
