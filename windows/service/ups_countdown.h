// The shutdown countdown, worked out at the start of every tick from the three things that can
// end in a shutdown: a utility failure, a low battery and the schedule. Only the smallest time
// left counts; the owner hears when the countdown starts, moves or stops.
#pragma once

#include <cstdint>
#include <optional>

#include "ups_changes.h"

namespace torvane {

// The schedule as the countdown sees it.
class ScheduleSource {
  public:
    virtual ~ScheduleSource() = default;
    // Calendar seconds of the next scheduled shutdown not before `now`, or nothing.
    virtual std::optional<std::int64_t> NextShutdown(std::int64_t now) = 0;
};

struct CountdownSettings {
    int acFailMinutes = 20;
    int batteryLowMinutes = 5;
    int scheduleWarningMinutes = 30;
    bool operator==(const CountdownSettings&) const = default;
};

struct CountdownInput {
    std::uint8_t status = 0;          // the last status byte (AC-fail and battery-low bits)
    std::int64_t acFailTime = 0;      // when the utility failed
    std::int64_t batteryLowTime = 0;  // when the battery went low
    CountdownSettings settings;
    ScheduleSource* schedule = nullptr;  // none set: the schedule plays no part
    std::int64_t now = 0;
};

struct CountdownOutcome {
    Reactions reactions;
    std::optional<std::int64_t> seconds;  // the countdown, nothing when nothing counts down
};

class Countdown {
  public:
    CountdownOutcome Tick(const CountdownInput& in);

    bool scheduleActive() const { return scheduleActive_; }

  private:
    bool scheduleActive_ = false;
    bool acFailWas_ = false;
    bool batteryLowWas_ = false;
    CountdownSettings settingsWere_;
    std::optional<std::int64_t> valueWas_;
};

}  // namespace torvane
