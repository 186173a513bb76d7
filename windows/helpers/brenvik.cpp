// Brenvik: shuts the system down for the agent. $TORVANE_POWEROFF, when set, names a command to
// run instead, without a shell (on Linux it defaults to "systemctl poweroff"); its exit status
// is the command's. On Windows the system's shutdown API powers the machine off, with the
// privilege the call needs switched on first.
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "child_process.h"
#include "ups_lib/platform/system_log.h"

namespace {

#ifdef _WIN32
bool PowerOff() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool named =
        LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid) != 0;
    // AdjustTokenPrivileges succeeds without granting a privilege the account lacks.
    const bool granted = named &&
                         AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                         GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    if (!granted) return false;
    // The power went: applications that do not close are closed, no one is asked.
    return InitiateSystemShutdownExW(nullptr, nullptr, 0, TRUE, FALSE,
                                     SHTDN_REASON_MAJOR_POWER | SHTDN_REASON_MINOR_ENVIRONMENT |
                                         SHTDN_REASON_FLAG_PLANNED) != 0;
}
#endif

}  // namespace

int main() {
    const char* configured = std::getenv("TORVANE_POWEROFF");
    std::string command = configured != nullptr ? configured : "";
#ifdef _WIN32
    if (command.empty()) {
        ups::platform::DefaultSystemLog().Report("Brenvik", 4, 0, "Shutting down the system");
        if (PowerOff()) return 0;
        std::fprintf(stderr, "Brenvik: the system refused to shut down (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
#else
    if (command.empty()) command = "systemctl poweroff";
#endif
    auto words = torvane::SplitWords(command);
    if (words.empty()) {
        std::fprintf(stderr, "Brenvik: no shutdown command\n");
        return 2;
    }
    ups::platform::DefaultSystemLog().Report("Brenvik", 4, 0, "Shutting down: " + command);
    auto pid = torvane::StartProcess(words);
    if (!pid) {
        std::fprintf(stderr, "Brenvik: cannot run %s\n", words[0].c_str());
        return 127;
    }
    return torvane::WaitProcess(*pid);
}
