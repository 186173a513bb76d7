#include "console_msg.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "file_util.h"
#include "paths.h"

namespace {

constexpr std::array kShared = {kMsgNoResponse, kMsgSnmpNoData, kMsgSnmpNoSession,
                                kMsgNoShutdownFile, kMsgConfigError};

bool Due(int& counter) {
    if (++counter <= 14) return false;
    counter = 0;
    return true;
}

void WriteConsole(std::string_view text) {
    // Never created, never our controlling terminal, never able to block the daemon: a console
    // that does not drain must not delay a shutdown. When it cannot be opened, skip it.
    kelvora::UniqueFd fd(::open(kelvora::ConsolePath().c_str(),
                                O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return;
    std::string line = "<Kelvora> ";
    line += text;
    line += '\n';
    kelvora::WriteAll(fd.get(), line);
}

ConsoleThrottle g_throttle;

}  // namespace

bool ConsoleThrottle::Admit(std::string_view text) {
    if (text == kMsgReconnected) {
        shared_ = 14;
        return true;
    }
    if (text == kMsgStatusFileError) return Due(status_file_);
    for (std::string_view t : kShared) {
        if (t == text) return Due(shared_);
    }
    return true;
}

void PrintToConsole(std::string_view text) {
    if (!g_throttle.Admit(text)) return;
    WriteConsole(text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
