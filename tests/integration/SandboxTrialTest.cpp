#include "platform/gtk/WebEngine.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel {
namespace {

constexpr int skipped = 77;

// The trial run's end is the only evidence that the sandbox can start: when
// someone else reaps it first, the sandbox must count as unavailable (web
// content then runs without it) rather than as tested. Run in a child process
// of its own, where the trial run is the only grandchild there is to reap.
TEST(SandboxTrialTest, ATrialRunReapedElsewhereCountsAsAFailure) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        gtk::SandboxTrial trial;
        int reaped = 0;
        for (;;) {
            if (waitpid(-1, nullptr, 0) > 0) {
                ++reaped;
            } else if (errno != EINTR) {
                break;
            }
        }
        if (reaped == 0) {
            _exit(skipped); // the engine decides itself here, or no bus proxy
        }
        _exit(trial.result().has_value() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == skipped) {
        GTEST_SKIP() << "no trial run is made on this machine";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a trial run whose end was not seen counted as a pass";
}

// A bubblewrap that hangs (on a mount, say) must not keep the window from
// ever appearing: past the limit it is killed and reaped, and the sandbox
// counts as unavailable.
TEST(SandboxTrialTest, ATrialRunPastItsLimitIsKilledAndCountsAsAFailure) {
    char folderTemplate[] = "/tmp/quorvel-trial-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::filesystem::path folder = folderTemplate;
    const std::filesystem::path stuck = folder / "bwrap";
    const std::filesystem::path pidFile = folder / "pid";
    {
        std::ofstream script(stuck);
        script << "#!/bin/sh\necho $$ > '" << pidFile.string() << "'\nexec sleep 60\n";
    }
    std::filesystem::permissions(stuck, std::filesystem::perms::owner_all);

    const auto started = std::chrono::steady_clock::now();
    std::optional<std::string> failure;
    {
        gtk::SandboxTrial trial(std::chrono::seconds(1), stuck.string());
        failure = trial.result();
    }
    const auto waited = std::chrono::steady_clock::now() - started;
    pid_t stuckPid = 0;
    std::ifstream(pidFile) >> stuckPid;
    std::filesystem::remove_all(folder);
    if (stuckPid <= 0) {
        GTEST_SKIP() << "no trial run is made on this machine";
    }
    EXPECT_LT(waited, std::chrono::seconds(3));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, stuck.string() + ": its trial run did not end within 1 s");
    EXPECT_EQ(kill(stuckPid, 0), -1) << "the trial run still runs, or was not reaped";
}

} // namespace
} // namespace quorvel
