#include "platform/gtk/WebEngine.h"

#include <cerrno>
#include <gtest/gtest.h>
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

} // namespace
} // namespace quorvel
