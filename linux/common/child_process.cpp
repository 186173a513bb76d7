#include "child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

namespace {

// Signals are blocked around fork() so that no handler of ours runs in the child before it has
// put the default handling back (the daemon ignores SIGPIPE and catches the stop signals).
class BlockedSignals {
  public:
    BlockedSignals() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &saved_);
    }
    ~BlockedSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    BlockedSignals(const BlockedSignals&) = delete;
    BlockedSignals& operator=(const BlockedSignals&) = delete;

  private:
    sigset_t saved_;
};

// Everything the child needs is made before the fork: between fork and exec the child calls
// nothing that allocates or takes a lock another thread might have held.
struct ExecPlan {
    const char* path;
    std::vector<char*> argv;
    std::string fail_line;
    bool own_group;
};

[[noreturn]] void ExecInChild(const ExecPlan& plan) {
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (plan.own_group) setpgid(0, 0);
    execv(plan.path, plan.argv.data());
    if (!plan.fail_line.empty()) {
        ssize_t ignored = write(STDOUT_FILENO, plan.fail_line.data(), plan.fail_line.size());
        (void)ignored;
    }
    _exit(127);
}

int Fork(const std::string& path, const std::vector<std::string>& argv,
         const std::string& fail_text, bool own_group) {
    ExecPlan plan{path.c_str(), {}, fail_text.empty() ? "" : fail_text + "\n", own_group};
    for (const std::string& a : argv) plan.argv.push_back(const_cast<char*>(a.c_str()));
    plan.argv.push_back(nullptr);
    std::fflush(nullptr);  // nothing buffered may be written twice
    BlockedSignals blocked;
    pid_t pid = fork();
    if (pid == 0) ExecInChild(plan);
    if (pid > 0 && own_group) setpgid(pid, pid);  // no race with the child's own call
    return pid;
}

}  // namespace

int SpawnDetached(const std::string& path, const std::vector<std::string>& argv,
                  const std::string& fail_text) {
    if (argv.empty()) return -1;
    return Fork(path, argv, fail_text, false);
}

int RunShell(const std::string& command, std::chrono::seconds limit) {
    pid_t pid = Fork("/bin/sh", {"/bin/sh", "-c", command}, "", true);
    if (pid < 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, limit.count() > 0 ? WNOHANG : 0);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0 && errno != EINTR) return -1;
        if (limit.count() > 0 && std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void ReapChildren() {
    int status;
    while (waitpid(-1, &status, WNOHANG) > 0) {
    }
}
