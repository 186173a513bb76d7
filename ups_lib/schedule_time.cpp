#include "schedule_time.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <optional>

namespace ups {

namespace {

std::int64_t MakeLocal(long long year, long long month, long long day, const std::tm& clock) {
    return MakeLocalTime(year, month, day, clock.tm_hour, clock.tm_min, clock.tm_sec);
}

std::int64_t NextByDays(std::int64_t first, const std::tm& b, int days, std::int64_t now) {
    // Jump close to now first (one period short, in case a clock change makes a day 23 hours),
    // then step: an entry set years ago costs a few calls, not thousands.
    const std::int64_t period = 86400LL * days;
    long long k = std::max<long long>(0, (now - first) / period - 1);
    for (;;) {
        const std::int64_t t = MakeLocal(b.tm_year + 1900LL, b.tm_mon, b.tm_mday + k * days, b);
        if (t < 0 || t >= now) return t;
        ++k;
    }
}

std::int64_t NextByMonths(const std::tm& b, int step, std::int64_t now) {
    const auto nowTm = LocalTime(now);
    if (!nowTm) return -1;
    const long long base = (b.tm_year + 1900LL) * 12 + b.tm_mon;
    const long long nowIndex = (nowTm->tm_year + 1900LL) * 12 + nowTm->tm_mon;
    long long k = std::max<long long>(0, (nowIndex - base) / step - 1);
    for (;;) {
        // Always from the entry's own month and day: the 31st of January gives the 28th (or
        // 29th) of February and then the 31st of March again, not the 28th.
        const long long index = base + k * step;
        const long long year = index / 12;
        const int month = static_cast<int>(index % 12);
        const int day = std::min(b.tm_mday, DaysInMonth(year, month));
        const std::int64_t t = MakeLocal(year, month, day, b);
        if (t < 0 || t >= now) return t;
        ++k;
    }
}

}  // namespace

std::int64_t MakeLocalTime(long long year, long long month0, long long day, int hour, int minute,
                           int second) {
    constexpr long long kIntMax = std::numeric_limits<int>::max();
    const long long y = year + month0 / 12;
    if (y - 1900 > kIntMax / 2 || day > kIntMax / 2) return -1;
    std::tm t{};
    t.tm_year = static_cast<int>(y - 1900);
    t.tm_mon = static_cast<int>(month0 % 12);
    t.tm_mday = static_cast<int>(day);
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    const std::time_t r = std::mktime(&t);
    return r == static_cast<std::time_t>(-1) ? -1 : static_cast<std::int64_t>(r);
}

int DaysInMonth(long long year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 1) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[month];
}

std::int64_t NextOccurrence(std::int64_t first, std::uint16_t frequency, std::int64_t now) {
    if (first >= now) return first;
    switch (frequency) {
        case kDaily:
        case kWeekly: {
            const auto b = LocalTime(first);
            if (!b) return -1;
            return NextByDays(first, *b, frequency == kDaily ? 1 : 7, now);
        }
        case kMonthly:
        case kEverySecondMonth: {
            const auto b = LocalTime(first);
            if (!b) return -1;
            return NextByMonths(*b, frequency == kMonthly ? 1 : 2, now);
        }
        default:
            return first;
    }
}

std::optional<std::tm> LocalTime(std::int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm out{};
#ifdef _WIN32
    if (localtime_s(&out, &tt) != 0) return std::nullopt;
#else
    if (localtime_r(&tt, &out) == nullptr) return std::nullopt;
#endif
    return out;
}

}  // namespace ups
