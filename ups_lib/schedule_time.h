// When a schedule entry next falls due. Times are calendar times (seconds since 1970 UTC);
// the stepping is done on the local calendar, so that "daily at 22:00" stays at 22:00 on the
// wall clock across a daylight-saving change.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace ups {

enum ScheduleFrequency : std::uint16_t {
    kOnce = 0,
    kDaily = 1,
    kWeekly = 2,
    kMonthly = 3,
    kEverySecondMonth = 4,
};

// The first occurrence of (first, frequency) that is not earlier than now. For a once-only
// entry (and for a frequency this program does not know) that is simply first, which may lie
// before now; callers skip such results. Returns -1 when the arithmetic cannot give a time (a
// date outside what the C library can represent).
std::int64_t NextOccurrence(std::int64_t first, std::uint16_t frequency, std::int64_t now);

// The calendar time of a local date and clock time; -1 when the C library cannot represent it.
// Fields out of range are carried over as mktime does (day 40 of a month, month 14), which is
// what makes "add n days" an addition; whether summer time applies is left to the C library.
std::int64_t MakeLocalTime(long long year, long long month0, long long day, int hour, int minute,
                           int second = 0);

// The local calendar time of `t`; none when the C library cannot represent it.
std::optional<std::tm> LocalTime(std::int64_t t);

// Days in a month of the Gregorian calendar (month 0..11, full year like 2024).
int DaysInMonth(long long year, int month);

}  // namespace ups
