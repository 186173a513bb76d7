#include "commands.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "child_process.h"
#include "file_util.h"
#include "msgq.h"
#include "paths.h"

void StartDaemon() {
    if (InstanceExist()) {
        std::printf("%s %s\n", "<Kelvora>", "is currently running!");
        return;
    }
    // Twelve blanks: the one argument list the daemon runs with. The daemon lives on by itself;
    // nobody waits for it.
    const char* fail = "Error! Daemon program fails!";
    if (SpawnDetached(kelvora::RootPath("vornd"), {"vornd", "            "}, fail) < 0) {
        std::printf("%s\n", fail);
    }
}

void StopDaemon() {
    if (!InstanceExist()) {
        std::printf("%s %s\n", "<Kelvora>", "is not running!");
        return;
    }
    SendMsg(CreateMsgQ(kControlQueueId), kMsgControl, kCtrlTextStop);
}

void SetDebugSwitch(std::string_view name, std::string_view word) {
    if (!kelvora::WriteSmallFile(kelvora::RootPath(name), word)) return;
    bool daemon = name == "vornd.dbg";
    std::printf("\n _________________________________");
    std::printf("\n|                                 |");
    std::printf("\n%s", daemon ? "|  VORND Daemon Process Debugger  |"
                               : "| Kelvora Status Screen Debugger  |");
    std::printf("\n%s", word == "debug" ? "|               Debugger Started  |"
                                        : "|               Debugger Stopped  |");
    std::printf("\n|_________________________________|\n\n");
}
