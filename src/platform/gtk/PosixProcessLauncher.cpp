#include "platform/gtk/PosixProcessLauncher.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <glib.h>
#include <linux/close_range.h>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quorvel::gtk {

namespace {

// What the child reports through the pipe when it cannot run the program.
struct ChildFailure {
    enum Stage : int { ChangeDirectory, Execute } stage;
    int error;
};

// Everything the child needs, built before fork: after fork the child may only
// make async-signal-safe calls, so it allocates nothing.
struct ExecPlan {
    std::string path;
    std::string workingDirectory;
    std::vector<std::string> argumentStorage;
    std::vector<std::string> environmentStorage;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

ExecPlan makePlan(const ProcessSpec& details) {
    ExecPlan plan;
    plan.path = details.executable.string();
    plan.workingDirectory = details.workingDirectory.string();
    plan.argumentStorage.push_back(plan.path);
    plan.argumentStorage.insert(plan.argumentStorage.end(), details.arguments.begin(),
                                details.arguments.end());
    for (const auto& [name, value] : details.environment) {
        // A name with '=' cannot be passed on; the child would read another name.
        if (!name.empty() && name.find('=') == std::string::npos) {
            plan.environmentStorage.push_back(name + "=" + value);
        }
    }
    for (auto& argument : plan.argumentStorage) {
        plan.argv.push_back(argument.data());
    }
    plan.argv.push_back(nullptr);
    for (auto& entry : plan.environmentStorage) {
        plan.envp.push_back(entry.data());
    }
    plan.envp.push_back(nullptr);
    return plan;
}

[[noreturn]] void reportAndExit(int fd, ChildFailure::Stage stage, int error) {
    const ChildFailure failure{stage, error};
    [[maybe_unused]] const auto written = ::write(fd, &failure, sizeof failure);
    ::_exit(127);
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void runChild(const ExecPlan& plan, pid_t parent, int reportFd) {
    // The shell's signal handlers mean nothing to the new program.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &defaultAction, nullptr); // fails harmlessly for SIGKILL, SIGSTOP
    }
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have died before the request above: nobody would send
    // the signal then, so leave at once.
    if (::getppid() != parent) {
        ::_exit(127);
    }
    // Only the standard streams are passed on (Linux 5.11 and later; older
    // kernels keep the descriptors that were not opened close-on-exec).
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (!plan.workingDirectory.empty() && ::chdir(plan.workingDirectory.c_str()) != 0) {
        reportAndExit(reportFd, ChildFailure::ChangeDirectory, errno);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(plan.path.c_str(), plan.argv.data(), plan.envp.data());
    reportAndExit(reportFd, ChildFailure::Execute, errno);
}

// Shared by the handle and the child watch.
struct ChildState {
    pid_t pid = 0;
    std::atomic<bool> reaped{false};
    // Main loop only. Dropped with the handle: the child is still reaped,
    // but nobody hears of it.
    std::function<void(const ProcessExit&)> exited;
};

ProcessExit exitFromWaitStatus(int status) {
    ProcessExit exit;
    if (WIFEXITED(status)) {
        exit.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exit.signal = WTERMSIG(status);
    }
    return exit;
}

void onChildExited(GPid, gint waitStatus, gpointer data) {
    ChildState& state = **static_cast<std::shared_ptr<ChildState>*>(data);
    state.reaped = true;
    if (auto exited = std::exchange(state.exited, nullptr)) {
        exited(exitFromWaitStatus(waitStatus));
    }
}

class PosixChildProcess final : public ChildProcess {
public:
    explicit PosixChildProcess(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}
    ~PosixChildProcess() override { state_->exited = nullptr; }
    PosixChildProcess(const PosixChildProcess&) = delete;
    PosixChildProcess& operator=(const PosixChildProcess&) = delete;

    void terminate() override {
        // Until the child watch has reaped it, the pid is still this child's
        // (at worst a zombie), never another process's.
        if (!state_->reaped) {
            ::kill(state_->pid, SIGTERM);
        }
    }

    void kill() override {
        if (!state_->reaped) {
            ::kill(state_->pid, SIGKILL);
        }
    }

private:
    std::shared_ptr<ChildState> state_;
};

class PosixProcessLauncher final : public ProcessLauncher {
public:
    LaunchResult launch(const ProcessSpec& details,
                        std::function<void(const ProcessExit&)> exited) override {
        const ExecPlan plan = makePlan(details);
        LaunchResult result;

        int report[2];
        if (::pipe2(report, O_CLOEXEC) != 0) {
            result.errorDescription = std::string("Cannot start a process: ") + g_strerror(errno);
            return result;
        }
        // No signal handler of the shell may run in the child before the
        // dispositions are reset.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &previous);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(report[0]);
            runChild(plan, parent, report[1]);
        }
        const int forkError = errno;
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        ::close(report[1]);
        if (pid < 0) {
            ::close(report[0]);
            result.errorDescription =
                std::string("Cannot start a process: ") + g_strerror(forkError);
            return result;
        }

        // The pipe closes without a word once execve succeeded.
        ChildFailure failure{};
        ssize_t received = 0;
        do {
            received = ::read(report[0], &failure, sizeof failure);
        } while (received < 0 && errno == EINTR);
        ::close(report[0]);
        if (received == static_cast<ssize_t>(sizeof failure)) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            result.errorDescription =
                failure.stage == ChildFailure::ChangeDirectory
                    ? "Cannot change to the folder \"" + plan.workingDirectory +
                          "\": " + g_strerror(failure.error)
                    : "Cannot run \"" + plan.path + "\": " + g_strerror(failure.error);
            return result;
        }

        auto state = std::make_shared<ChildState>();
        state->pid = pid;
        state->exited = std::move(exited);
        g_child_watch_add_full(
            G_PRIORITY_DEFAULT, pid, onChildExited, new std::shared_ptr<ChildState>(state),
            [](gpointer data) { delete static_cast<std::shared_ptr<ChildState>*>(data); });
        result.process = std::make_unique<PosixChildProcess>(std::move(state));
        return result;
    }
};

} // namespace

std::unique_ptr<ProcessLauncher> makePosixProcessLauncher() {
    return std::make_unique<PosixProcessLauncher>();
}

} // namespace quorvel::gtk
