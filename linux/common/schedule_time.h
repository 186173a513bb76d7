// The weekly schedule turned into moments: the next scheduled shutdown and the minutes from it
// to the next restart (which the UPS shut-down command carries).
#pragma once

#include <cstdint>

#include "config.h"

// Minutes from weekday `day` at hour:minute to the next set entry of a seven-day hour/minute
// table (hours of -1 are not set), or -1 when no day is set. A time equal to the current
// minute is a full week (10080 minutes) away. `out_day` receives the target weekday.
int TimeDif(int day, int hour, int minute, const int32_t hours[7], const int32_t minutes[7],
            int32_t* out_day);

// The schedule arithmetic for a given moment `now` (seconds since the epoch, 64-bit so that it
// stays right past 2038), weekday and time taken from the local time.
// `next_shutdown` becomes the absolute time of the next scheduled shutdown on a whole minute, or
// -1 (and `shutdown_day` -1) when no shutdown is set, in which case `restart_minutes` and
// `restart_day` are left as they were. `restart_minutes` is the minutes from that shutdown to the
// next restart less the turn-off delay (at least one minute subtracted, at least 1 left), or -1
// (and `restart_day` -1) when no restart is set. `shutdown_day` and `restart_day` may point to the
// same variable.
void CalcSchdlTimeAt(int64_t now, const WeekSchedule* schedule, int64_t* next_shutdown,
                     int32_t* restart_minutes, int32_t* shutdown_day, int32_t* restart_day,
                     float turnoff_delay);

// The same for the current time.
void CalcSchdlTime(const WeekSchedule* schedule, int64_t* next_shutdown, int32_t* restart_minutes,
                   int32_t* shutdown_day, int32_t* restart_day, float turnoff_delay);
