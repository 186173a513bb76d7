#ifndef _WIN32

#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>

#include "stop_request.h"

namespace torvane {

namespace {

sigset_t StopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop, sig);
    return stop;
}

}  // namespace

void PrepareProcess() {
    const sigset_t stop = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A thousand control panels take more descriptors than the usual soft limit of 1024.
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 8192) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

void WaitForStopRequest(platform::Event* done) {
    const sigset_t stop = StopSignals();
    // With an event to watch as well, the wait goes in slices: signals have no event to join.
    const timespec slice{0, 200 * 1000 * 1000};
    for (;;) {
        if (done != nullptr && done->Wait(std::chrono::milliseconds(0))) return;
        const int sig = done != nullptr ? sigtimedwait(&stop, nullptr, &slice) : [&] {
            int s = 0;
            return sigwait(&stop, &s) == 0 ? s : -1;
        }();
        if (sig == SIGTERM || sig == SIGINT) return;
    }
}

}  // namespace torvane

#endif  // _WIN32
