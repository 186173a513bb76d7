// The daemon's one channel for operational messages: "<Kelvora> text" on the system console and
// the text on standard output, with recurring errors throttled so that a UPS that stays silent
// for hours does not flood the console.
#pragma once

#include <string_view>

// Decides which messages are shown. Five recurring errors share one counter: the first one
// after start (or after a reconnect) is shown, then one in every fifteen.
class ConsoleThrottle {
public:
    bool Admit(std::string_view text);

private:
    int counter_ = 14;
};

void PrintToConsole(std::string_view text);
