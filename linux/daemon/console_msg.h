// The daemon's one channel for operational messages: "<Kelvora> text" on the system console and
// the text on standard output, with recurring errors throttled so that a UPS that stays silent
// for hours does not flood the console.
#pragma once

#include <string_view>

// The recurring errors. The first five share one counter.
inline constexpr std::string_view kMsgNoResponse =
    "UPS Adapter No Response!!, type [kelvora stop] to stop this process";
inline constexpr std::string_view kMsgSnmpNoData = "SNMP Agent unable to get data from the UPS";
inline constexpr std::string_view kMsgSnmpNoSession = "Cannot Initialize the SNMP Session!!";
inline constexpr std::string_view kMsgNoShutdownFile = "Shutdown file empty or not found!";
inline constexpr std::string_view kMsgConfigError = "Configuration Error!";
// Throttled the same way but counted apart, so that it can neither hide the others nor be
// hidden by them.
inline constexpr std::string_view kMsgStatusFileError = "Can not write the UPS status file!";
// Resets the shared counter: the next error after a reconnect is news.
inline constexpr std::string_view kMsgReconnected = "UPS Reconnected!!";

// Decides which messages are shown: of each throttled kind, the first one after start (or after
// a reconnect) is shown, then one in every fifteen.
class ConsoleThrottle {
  public:
    bool Admit(std::string_view text);

  private:
    int shared_ = 14;
    int status_file_ = 14;
};

void PrintToConsole(std::string_view text);
