#include "test_notify.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "paths.h"
#include "unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;

bool Executable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Between fork and exec the child only makes system calls: everything it needs is made before.
// A failed exec is told to the parent through `report`, which the exec itself closes.
[[noreturn]] void Child(char* const* argv, int report, int null_fd) {
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setpgid(0, 0);  // its own group, so that a time-out ends what it started too
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    execv(argv[0], argv);
    int err = errno;
    ssize_t ignored = write(report, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

}  // namespace

ChannelResult RunChannel(const std::string& path, std::string_view code,
                         std::chrono::milliseconds limit) {
    if (!Executable(path)) return {ChannelResult::kNotConfigured};
    std::string arg(code);
    std::vector<char*> argv{const_cast<char*>(path.c_str()), arg.data(), nullptr};
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {ChannelResult::kCannotRun, errno};
    kelvora::UniqueFd read_end(pipe_fds[0]), write_end(pipe_fds[1]);
    kelvora::UniqueFd null_fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));

    std::fflush(nullptr);  // nothing buffered may be written twice
    sigset_t all, saved;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &saved);
    pid_t pid = fork();
    if (pid == 0) Child(argv.data(), write_end.get(), null_fd.get());
    int fork_errno = errno;
    if (pid > 0) setpgid(pid, pid);  // no race with the child's own call
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (pid < 0) return {ChannelResult::kCannotRun, fork_errno};
    write_end.Reset();

    const auto deadline = Clock::now() + limit;
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return {ChannelResult::kCannotRun, errno};
        if (Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return {ChannelResult::kTimedOut};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int exec_errno = 0;
    if (::read(read_end.get(), &exec_errno, sizeof exec_errno) ==
        static_cast<ssize_t>(sizeof exec_errno)) {
        return {ChannelResult::kCannotRun, exec_errno};
    }
    if (WIFSIGNALED(status)) return {ChannelResult::kSignal, WTERMSIG(status)};
    int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (exit_status == 0) return {ChannelResult::kSent};
    return {ChannelResult::kExitStatus, exit_status};
}

std::string ChannelLine(std::string_view name, const ChannelResult& r,
                        std::chrono::milliseconds limit) {
    std::string line(name);
    switch (r.kind) {
        case ChannelResult::kSent:
            return line + ": sent";
        case ChannelResult::kNotConfigured:
            return line + ": not configured";
        case ChannelResult::kExitStatus:
            return line + ": failed: exit status " + std::to_string(r.number);
        case ChannelResult::kSignal:
            return line + ": failed: killed by signal " + std::to_string(r.number);
        case ChannelResult::kTimedOut: {
            auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
            return line + ": failed: no end after " + std::to_string(seconds) + " s, killed";
        }
        case ChannelResult::kCannotRun:
            return line + ": failed: cannot run: " + std::strerror(r.number);
    }
    return line;
}

int vornii_test_notify() {
    bool all_good = true;
    int configured = 0;
    for (const char* name : {"email", "pager"}) {
        ChannelResult result = RunChannel(kelvora::RootPath(name), kTestCode, kChannelLimit);
        std::printf("%s\n", ChannelLine(name, result, kChannelLimit).c_str());
        std::fflush(stdout);
        if (result.kind == ChannelResult::kNotConfigured) continue;
        ++configured;
        all_good = all_good && result.kind == ChannelResult::kSent;
    }
    if (configured == 0) {
        // A test that reached nobody has not shown that anybody would hear of a power failure.
        std::fprintf(stderr, "kelvora: neither %s nor %s is an executable script\n",
                     kelvora::RootPath("email").c_str(), kelvora::RootPath("pager").c_str());
        return 1;
    }
    return all_good ? 0 : 1;
}
