#include "schedule_time.h"

#include <algorithm>
#include <climits>
#include <ctime>

namespace {

constexpr int64_t kWeekMinutes = 7 * 24 * 60;

bool IsSet(int32_t hour) {
    return hour != -1;
}

}  // namespace

int TimeDif(int day, int hour, int minute, const int32_t hours[7], const int32_t minutes[7],
            int32_t* out_day) {
    int target = day;
    bool later_today =
        IsSet(hours[day]) && (hour < hours[day] || (hour == hours[day] && minute <= minutes[day]));
    if (!later_today) {
        bool found = false;
        for (int step = 0; step < 7 && !found; ++step) {
            target = (target + 1) % 7;
            found = IsSet(hours[target]);
        }
        if (!found) {
            *out_day = target;
            return -1;
        }
    }
    // 64-bit so that a corrupt table cannot overflow; C's % keeps the sign of its left operand,
    // and a target earlier in the week comes out negative and wraps forward below.
    int64_t result =
        ((int64_t{target - day} % 7) * 24 + hours[target] - hour) * 60 + minutes[target] - minute;
    if (result <= 0) result += kWeekMinutes;
    *out_day = target;
    return static_cast<int>(std::clamp<int64_t>(result, INT_MIN + 1, INT_MAX));
}

void CalcSchdlTimeAt(int64_t now, const WeekSchedule* s, int64_t* next_shutdown,
                     int32_t* restart_minutes, int32_t* shutdown_day, int32_t* restart_day,
                     float turnoff_delay) {
    int32_t shut_h[7], shut_m[7], rest_h[7], rest_m[7];
    for (int d = 0; d < 7; ++d) {
        shut_h[d] = s->day[d].shutdown_hour;
        shut_m[d] = s->day[d].shutdown_minute;
        rest_h[d] = s->day[d].restart_hour;
        rest_m[d] = s->day[d].restart_minute;
    }
    time_t t = static_cast<time_t>(now);
    struct tm local {};
    localtime_r(&t, &local);

    int32_t day1 = -1;
    int d1 = TimeDif(local.tm_wday, local.tm_hour, local.tm_min, shut_h, shut_m, &day1);
    if (d1 == -1) {
        *next_shutdown = -1;
        *shutdown_day = -1;
        return;
    }
    *shutdown_day = day1;
    *next_shutdown = now - (now % 60) + int64_t{d1} * 60;

    int32_t day2 = -1;
    int d2 = TimeDif(day1, shut_h[day1], shut_m[day1], rest_h, rest_m, &day2);
    *restart_minutes = d2;
    if (d2 == -1) {
        *restart_day = -1;
        return;
    }
    // The UPS counts its restart from the moment its output goes off, a turn-off delay after the
    // command; it is at least a minute. (!(x >= 1) also catches a NaN from a corrupt file.)
    double delay = turnoff_delay;
    if (!(delay >= 1.0)) delay = 1.0;
    // A restart closer than the delay comes as soon as the UPS allows: one minute after it went
    // off. Zero would restart it at once, and -1 would mean no restart at all.
    double minutes = std::clamp(d2 - delay, 1.0, double{INT32_MAX});
    *restart_minutes = static_cast<int32_t>(minutes);
    *restart_day = day2;
}

void CalcSchdlTime(const WeekSchedule* s, int64_t* next_shutdown, int32_t* restart_minutes,
                   int32_t* shutdown_day, int32_t* restart_day, float turnoff_delay) {
    CalcSchdlTimeAt(static_cast<int64_t>(std::time(nullptr)), s, next_shutdown, restart_minutes,
                    shutdown_day, restart_day, turnoff_delay);
}
