#include "ups_countdown.h"

#include <algorithm>

#include "ups_lib/ups_records.h"

namespace torvane {
namespace {

// Seconds left of a delay that began at `since`. A clock set back before the start does not
// stretch the delay beyond what was configured.
std::int64_t Left(int minutes, std::int64_t since, std::int64_t now) {
    const std::int64_t delay = std::int64_t{minutes} * 60;
    const std::int64_t elapsed = std::max<std::int64_t>(now - since, 0);
    return std::max<std::int64_t>(delay - elapsed, 0);
}

void Smallest(std::optional<std::int64_t>& least, std::int64_t value) {
    if (!least || value < *least) least = value;
}

}  // namespace

CountdownOutcome Countdown::Tick(const CountdownInput& in) {
    CountdownOutcome out;
    Reactions& r = out.reactions;
    const bool scheduleWas = scheduleActive_;
    const bool acFail = (in.status & ups::kUtilityFail) != 0;
    const bool batteryLow = (in.status & ups::kBatteryLowBit) != 0;

    std::optional<std::int64_t> least;
    if (acFail) Smallest(least, Left(in.settings.acFailMinutes, in.acFailTime, in.now));
    if (batteryLow) {
        Smallest(least, Left(in.settings.batteryLowMinutes, in.batteryLowTime, in.now));
    }
    if (in.schedule != nullptr) {
        const std::optional<std::int64_t> next = in.schedule->NextShutdown(in.now);
        if (!next) {
            // A shutdown whose time has come leaves the schedule empty: that is no cancellation.
            if (scheduleActive_ && valueWas_.value_or(0) != 0) r.Post(kNotifyScheduleWarningEnd);
            scheduleActive_ = false;
        } else {
            const std::int64_t s = *next - in.now;
            if (s > std::int64_t{in.settings.scheduleWarningMinutes} * 60) {
                if (scheduleActive_) r.Post(kNotifyScheduleWarningEnd);
                scheduleActive_ = false;
            } else {
                if (!scheduleActive_) r.Post(kNotifyScheduleWarning);
                scheduleActive_ = true;
                Smallest(least, std::max<std::int64_t>(s, 0));
            }
        }
    }

    if (!least) {
        if (scheduleWas || acFailWas_ || batteryLowWas_) {
            r.Post(kNotifyCountdownStop);
            r.Trace("CUPS stop countdown(abort)\n");
        }
    } else {
        const bool started = (scheduleActive_ && !scheduleWas) || (acFail && !acFailWas_) ||
                             (batteryLow && !batteryLowWas_);
        if (started || in.settings != settingsWere_) {
            r.Post(kNotifyCountdownStart, *least);
            r.Trace("CUPS count down start or state changed\n");
        }
        if (least != valueWas_) r.Post(kNotifyCountdown, *least);
    }

    acFailWas_ = acFail;
    batteryLowWas_ = batteryLow;
    settingsWere_ = in.settings;
    valueWas_ = least;
    out.seconds = least;
    return out;
}

}  // namespace torvane
