// kelvora: the administrator's command. One sub-command per call.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "commands.h"
#include "config_screen.h"
#include "help_screen.h"
#include "issuer_screen.h"
#include "status_once.h"
#include "status_screen.h"
#include "test_notify.h"
#include "userid.h"

namespace {

void Usage(std::FILE* out, const char* self) {
    std::fprintf(out, "Usage: %s %s\n\n", self, "[start|stop|config|status|issuer|help]");
    std::fprintf(out, "%s\n", "  kelvora start   - Start the Daemon process\t");
    std::fprintf(out, "%s\n", "  kelvora stop    - Terminate Resident Daemon process\t");
    std::fprintf(out, "%s\n", "  kelvora config  - Modify Time Settings \t");
    std::fprintf(out, "%s\n", "  kelvora status  - Monitor UPS status\t");
    std::fprintf(out, "%s\n", "  kelvora issuer  - Send Commands to the UPS\t");
    std::fprintf(out, "%s\n", "  kelvora help    - Display Online User Manual\t");
}

void Usage(const char* self) {
    Usage(stdout, self);
}

// The forms for scripts. Their mistakes are told on standard error with status 2, as scripts
// expect; the classic forms keep their own messages and status.
int ScriptUsage(const char* self, std::string_view why) {
    std::fprintf(stderr, "kelvora: %.*s\n", static_cast<int>(why.size()), why.data());
    Usage(stderr, self);
    std::fprintf(stderr, "%s\n",
                 "  kelvora status --once  - Print the UPS status once as lines of text");
    std::fprintf(stderr, "%s\n",
                 "  kelvora status --json  - Print the UPS status once as one JSON object");
    std::fprintf(stderr, "%s\n",
                 "  kelvora test-notify    - Send a test notice by the e-mail and pager scripts");
    return 2;
}

// `kelvora status` followed by options: --once, --json (which is once as well), or both.
int StatusOnceCommand(const char* self, int argc, char** argv) {
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        std::string_view option = argv[i];
        if (option == "--json") {
            json = true;
        } else if (option != "--once") {
            return ScriptUsage(self, "unknown option " + std::string(option));
        }
    }
    return vornii_status_once(json);
}

int TestNotifyCommand(const char* self, int argc, char** argv) {
    if (argc > 2)
        return ScriptUsage(self, "test-notify takes no argument: " + std::string(argv[2]));
    // A test that sent nothing is no success.
    if (!ChkUserID()) return 1;
    return vornii_test_notify();
}

// An option after "status" is the scripts' form; another word is still too many arguments.
bool StatusWithOptions(int argc, char** argv) {
    return argc > 2 && std::string_view(argv[1]) == "status" && argv[2][0] == '-';
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
    if (StatusWithOptions(argc, argv)) return StatusOnceCommand(self, argc, argv);
    if (std::string_view(argv[1]) == "test-notify") return TestNotifyCommand(self, argc, argv);
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
