// kelvora: the administrator's command. One sub-command per call.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "commands.h"
#include "config_screen.h"
#include "help_screen.h"
#include "issuer_screen.h"
#include "status_screen.h"
#include "userid.h"

namespace {

void Usage(const char* self) {
    std::printf("Usage: %s %s\n\n", self, "[start|stop|config|status|issuer|help]");
    std::printf("%s\n", "  kelvora start   - Start the Daemon process\t");
    std::printf("%s\n", "  kelvora stop    - Terminate Resident Daemon process\t");
    std::printf("%s\n", "  kelvora config  - Modify Time Settings \t");
    std::printf("%s\n", "  kelvora status  - Monitor UPS status\t");
    std::printf("%s\n", "  kelvora issuer  - Send Commands to the UPS\t");
    std::printf("%s\n", "  kelvora help    - Display Online User Manual\t");
}

int Fail(const char* self, const char* why) {
    std::printf("%s\n", why);
    Usage(self);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* self = argc > 0 ? argv[0] : "kelvora";
    if (argc < 2) return Fail(self, "One argument needed!");
    if (argc > 2) return Fail(self, "Too many arguments!");
    std::string_view arg = argv[1];
    if (arg != "status" && arg != "help" && !ChkUserID()) return 0;

    // A screen that is interrupted must not leave the shell in raw mode.
    termios saved{};
    bool restore = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;

    if (arg == "start") {
        StartDaemon();
    } else if (arg == "stop") {
        StopDaemon();
    } else if (arg == "status") {
        vornii_status();
    } else if (arg == "config") {
        vornii_config();
    } else if (arg == "issuer") {
        vornii_issuer();
    } else if (arg == "help") {
        vornii_help();
    } else if (arg == "startdebugvornd") {
        SetDebugSwitch("vornd.dbg", "debug");
    } else if (arg == "startdebugstatus") {
        SetDebugSwitch("status.dbg", "debug");
    } else if (arg == "stopdebugvornd") {
        SetDebugSwitch("vornd.dbg", "nodebug");
    } else if (arg == "stopdebugstatus") {
        SetDebugSwitch("status.dbg", "nodebug");
    } else {
        return Fail(self, "Argument error!");
    }
    if (restore) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return 0;
}
