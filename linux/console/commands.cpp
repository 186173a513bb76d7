#include "commands.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "file_util.h"
#include "msgq.h"
#include "paths.h"

void StartDaemon() {
    if (InstanceExist()) {
        std::printf("%s %s\n", "<Kelvora>", "is currently running!");
        return;
    }
    std::string program = kelvora::RootPath("vornd");
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        char arg0[] = "vornd";
        char arg1[] = "            ";  // the one argument list the daemon runs with
        char* argv[] = {arg0, arg1, nullptr};
        execv(program.c_str(), argv);
        std::printf("Error! Daemon program fails!\n");
        std::fflush(stdout);
        _exit(1);
    }
    if (child < 0) std::printf("Error! Daemon program fails!\n");
    // The daemon lives on by itself; nobody waits for it.
}

void StopDaemon() {
    if (!InstanceExist()) {
        std::printf("%s %s\n", "<Kelvora>", "is not running!");
        return;
    }
    SendMsg(CreateMsgQ(kControlQueueId), kMsgControl, "100");
}

void SetDebugSwitch(std::string_view name, std::string_view word) {
    int fd = ::open(kelvora::RootPath(name).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    kelvora::WriteAll(fd, word);
    ::close(fd);
    bool daemon = name == "vornd.dbg";
    std::printf("\n _________________________________");
    std::printf("\n|                                 |");
    std::printf("\n%s", daemon ? "|  VORND Daemon Process Debugger  |" : "| Kelvora Status Screen Debugger  |");
    std::printf("\n%s", word == "debug" ? "|               Debugger Started  |"
                                        : "|               Debugger Stopped  |");
    std::printf("\n|_________________________________|\n\n");
}
