// Torvane: the network edition's agent.
//
//   Torvane             program mode, in the foreground; ends on SIGTERM or SIGINT (Ctrl-C or
//                       closing its console on Windows)
//   Torvane --service   as a service: of systemd (the unit runs this; status over
//                       $NOTIFY_SOCKET, the stop request is SIGTERM), or of the service control
//                       manager on Windows
//   Torvane -v | -i | -u  version and whether installed; install; remove
//   Torvane --test-notify  sends every configured notification once (mail, page, webhooks) and
//                       tells how each went; needs no lock, so a running agent is left alone
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "instance_lock.h"
#include "main_frame.h"
#include "monitor_service.h"
#include "stop_request.h"
#include "test_notify.h"
#include "ups_lib/platform/paths.h"
#include "ups_lib/trace.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: Torvane [--service | --test-notify | -v | -i | -u]\n");
    return 2;
}

int RunProgram() {
    platform::WindowThread frameThread;
    auto frame = frameThread.Create<torvane::CMainFrame>(true);
    if (!frame) return 1;
    auto endpoint = torvane::OpenFrameEndpoint(*frame);
    std::fprintf(stderr, "Torvane: running\n");
    torvane::WaitForStopRequest();
    ups::Trace("Torvane stopping\n");
    endpoint.reset();
    frame.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Before PrepareProcess: Ctrl-C must end a test that waits on a slow server.
    if (argc == 2 && std::string_view(argv[1]) == "--test-notify") {
#ifdef SIGPIPE
        std::signal(SIGPIPE, SIG_IGN);  // a mail server that hangs up is a failed attempt
#endif
        return torvane::TestNotifications(stdout);
    }
    // The stop signals reach only the thread that waits for them: the program's main thread,
    // or the service's control thread.
    torvane::PrepareProcess();

    if (argc > 2) return Usage();
    const bool serviceMode = argc == 2 && std::string_view(argv[1]) == "--service";
    if (argc == 2 && !serviceMode) {
        torvane::CNTService switches(torvane::kServiceName);
        int status = 0;
        return switches.ParseStandardArgs(argc, argv, status) ? status : Usage();
    }

    torvane::InstanceLock lock(ups::platform::ProgramDirectory() / "Torvane.lock");
    if (!lock.Held()) {
        std::fprintf(stderr, "Torvane: another agent is running\n");
        return 1;
    }

    int status = 0;
    if (serviceMode) {
        torvane::CMonitorService service;
        service.StartService();
        status = service.Status().exit_code == 0 ? 0 : 1;
    } else {
        status = RunProgram();
    }
    std::fprintf(stderr, "Torvane: stopped\n");
    return status;
}
