// What the power-event state machine does to the world, kept behind one interface so that the
// machine itself is pure decisions over an injected clock.
#pragma once

#include <string_view>

class PowerEvents {
  public:
    virtual ~PowerEvents() = default;
    // Opens the event log for a new event (closing one still open).
    virtual void OpenLog() = 0;
    virtual void CloseLog() = 0;
    // Warns every terminal and standard output; also into the open log when `to_log`.
    virtual void Warn(std::string_view text, bool to_log) = 0;
    // The daemon's console message.
    virtual void Report(std::string_view text) = 0;
    // Starts the e-mail and pager scripts with the event code ('1' to '4').
    virtual void Notify(char code) = 0;
    // The deadline has passed: shut the system (and the UPS) down. `scheduled` is true when it
    // was a scheduled shutdown, the only kind that carries the restart time to the UPS.
    virtual void ShutDownNow(bool scheduled) = 0;
};
