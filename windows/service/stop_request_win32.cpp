#ifdef _WIN32

#include <windows.h>

#include "stop_request.h"

namespace torvane {

namespace {

HANDLE StopEvent() {
    static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    // Any user's logging off reaches the programs of the service's session too: no reason to
    // stop watching the UPS.
    if (event == CTRL_LOGOFF_EVENT) return TRUE;
    SetEvent(StopEvent());
    // The system ends the process when this returns from a close, log-off or shutdown event:
    // the main thread gets a few seconds to let the clients go first.
    Sleep(4000);
    return TRUE;
}

}  // namespace

void PrepareProcess() {
    StopEvent();
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WaitForStopRequest(platform::Event* done) {
    if (done == nullptr) {
        WaitForSingleObject(StopEvent(), INFINITE);
        return;
    }
    while (WaitForSingleObject(StopEvent(), 200) == WAIT_TIMEOUT) {
        if (done->Wait(std::chrono::milliseconds(0))) return;
    }
}

}  // namespace torvane

#endif  // _WIN32
