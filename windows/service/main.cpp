// Torvane: the network edition's agent. With no argument it runs in the foreground as a program
// (the systemd unit runs it the same way); it ends on SIGTERM or SIGINT, as a service ends on its
// stop request.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "instance_lock.h"
#include "main_frame.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/platform/paths.h"
#include "ups_lib/trace.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: Torvane [-v]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) return Usage();
    if (argc == 2) {
        if (std::string_view(argv[1]) != "-v") return Usage();
        std::printf("%s Version %d.%d\n", "Torvane", 1, 0);
        return 0;
    }

    // Every thread inherits this mask, so the stop signals reach only the wait below.
    sigset_t stop;
    sigemptyset(&stop);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop, sig);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a client that hangs up is a socket error, not our end

    torvane::InstanceLock lock(ups::platform::ProgramDirectory() / "Torvane.lock");
    if (!lock.Held()) {
        std::fprintf(stderr, "Torvane: another agent is running\n");
        return 1;
    }

    {
        platform::WindowThread frameThread;
        auto frame = frameThread.Create<torvane::CMainFrame>(true);
        if (!frame) return 1;
        std::fprintf(stderr, "Torvane: running\n");
        for (;;) {
            int sig = 0;
            if (sigwait(&stop, &sig) != 0) continue;
            if (sig == SIGHUP) continue;  // a closed terminal is no reason to stop protecting
            break;
        }
        ups::Trace("Torvane stopping\n");
        frame.reset();
    }
    std::fprintf(stderr, "Torvane: stopped\n");
    return 0;
}
