#include "console_msg.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "file_util.h"
#include "paths.h"

namespace {

constexpr std::string_view kNoResponse =
    "UPS Adapter No Response!!, type [kelvora stop] to stop this process";
constexpr std::string_view kSnmpNoData = "SNMP Agent unable to get data from the UPS";
constexpr std::string_view kSnmpNoSession = "Cannot Initialize the SNMP Session!!";
constexpr std::string_view kNoShutdownFile = "Shutdown file empty or not found!";
constexpr std::string_view kConfigError = "Configuration Error!";
constexpr std::string_view kReconnected = "UPS Reconnected!!";

constexpr std::array kThrottled = {kNoResponse, kSnmpNoData, kSnmpNoSession, kNoShutdownFile,
                                   kConfigError};

// These come from retry loops that would otherwise spin; the pause is part of their pacing.
bool PausesAfter(std::string_view text) {
    return text == kSnmpNoData || text == kSnmpNoSession || text == kNoShutdownFile;
}

void WriteConsole(std::string_view text) {
    // Never created, never our controlling terminal, never able to block the daemon: a console
    // that does not drain must not delay a shutdown. When it cannot be opened, skip it.
    int fd = ::open(kelvora::ConsolePath().c_str(),
                    O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    std::string line = "<Kelvora> ";
    line += text;
    line += '\n';
    kelvora::WriteAll(fd, line);
    ::close(fd);
}

ConsoleThrottle g_throttle;

}  // namespace

bool ConsoleThrottle::Admit(std::string_view text) {
    if (text == kReconnected) {
        counter_ = 14;  // the next error after a reconnect is news: show it at once
        return true;
    }
    bool throttled = false;
    for (std::string_view t : kThrottled) throttled = throttled || t == text;
    if (!throttled) return true;
    if (++counter_ <= 14) return false;
    counter_ = 0;
    return true;
}

void PrintToConsole(std::string_view text) {
    bool show = g_throttle.Admit(text);
    if (show) {
        WriteConsole(text);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (PausesAfter(text)) sleep(1);
}
