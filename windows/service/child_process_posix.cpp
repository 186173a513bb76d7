#ifndef _WIN32

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "child_process.h"
#include "ups_lib/platform/paths.h"

extern char** environ;

namespace torvane {

std::filesystem::path FindOutsideProgram(std::string_view name) {
    std::error_code ec;
    for (const auto& dir : {ups::platform::ProgramDirectory(),
                            std::filesystem::read_symlink("/proc/self/exe", ec).parent_path()}) {
        if (dir.empty()) continue;
        auto candidate = dir / std::string(name);
        if (std::filesystem::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::optional<int> StartOnDesktop(const std::vector<std::string>& argv) {
    return StartProcess(argv);
}

std::optional<int> StartProcess(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return std::nullopt;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The agent keeps its stop signals blocked for the thread that waits for them; a program it
    // starts gets the usual mask and dispositions back.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return std::nullopt;
    return static_cast<int>(pid);
}

int WaitProcess(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

bool ProcessEnded(int pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

void StopProcess(int pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    WaitProcess(pid);
}

void AwaitExit(int pid) {
    if (pid <= 0) return;
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0) {
        if (errno != EINTR) return;
    }
}

void SignalStop(int pid, bool force) {
    if (pid > 0) kill(pid, force ? SIGKILL : SIGTERM);
}

}  // namespace torvane

#endif  // _WIN32
