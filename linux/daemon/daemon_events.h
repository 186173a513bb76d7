// The daemon's side of power events: terminal warnings, the event log, the e-mail and pager
// scripts, and the shutdown sequence.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "config.h"
#include "event_log.h"
#include "power_events.h"

// A pre-shutdown command gets this long before it is killed and the shutdown goes on.
inline constexpr std::chrono::seconds kPreShutLimit{300};

// What the shutdown sequence needs from the poll cycle that ends in it.
struct ShutdownContext {
    const UpsConfig* config = nullptr;
    int32_t restart_minutes = -1;
    std::string shutdown_cmd;
    int ups_handle = -1;
    int redraw_queue = -1;
    std::function<void()> stop_daemon;  // removes the queues, closes the port, reports
};

class DaemonEvents : public PowerEvents {
  public:
    void SetContext(ShutdownContext context) { context_ = std::move(context); }
    bool shut_down() const { return shut_down_; }

    void OpenLog() override;
    void CloseLog() override;
    void Warn(std::string_view text, bool to_log) override;
    void Report(std::string_view text) override;
    void Notify(char code) override;
    void ShutDownNow(bool scheduled) override;

  private:
    void PreShut();

    LogFile log_;
    ShutdownContext context_;
    bool shut_down_ = false;
};
