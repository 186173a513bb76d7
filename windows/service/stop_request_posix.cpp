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

void WaitForStopRequest() {
    const sigset_t stop = StopSignals();
    for (;;) {
        int sig = 0;
        if (sigwait(&stop, &sig) != 0) continue;
        if (sig == SIGHUP) continue;
        return;
    }
}

}  // namespace torvane

#endif  // _WIN32
