#include "gui/schedule/schedule_text.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <iomanip>
#include <limits>
#include <locale>
#include <optional>
#include <sstream>

#include "ups_lib/schedule_time.h"

namespace kelvora::panel {

namespace {

constexpr std::size_t kTimeEditChars = 30;
constexpr std::size_t kDateEditChars = 11;
constexpr std::int64_t kEntryTimeMax = std::numeric_limits<std::uint32_t>::max();

// Reads an integer the way scanf's %d does (leading blanks, an optional sign, digits) and
// advances pos past it. A long run of digits stops growing past every valid hour, minute or
// year instead of overflowing, so it is simply an invalid time or date.
std::optional<long long> ReadInteger(std::string_view text, std::size_t& pos) {
    std::size_t p = pos;
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    const std::size_t digits = p;
    long long value = 0;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
        if (value < 1'000'000'000) value = value * 10 + (text[p] - '0');
        ++p;
    }
    if (p == digits) return std::nullopt;
    pos = p;
    return negative ? -value : value;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// The edit shows "PM" and "AM"; a user who types them in small letters means the same.
bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

bool SameDate(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday;
}

}  // namespace

TimeOfDay ParseTimeEdit(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kTimeEditChars));
    std::size_t pos = 0;
    const auto hour = ReadInteger(text, pos);
    if (!hour) return {};
    long long h = *hour;
    long long m = 0;
    if (pos < text.size()) {
        ++pos;  // the separator, whatever it is
        if (const auto minute = ReadInteger(text, pos)) {
            m = *minute;
            if (pos < text.size() && h <= 12) {
                const std::string_view suffix = Trim(text.substr(pos));
                // A negative hour is no time at all: it must not become one by adding 12.
                if (h >= 0 && SameLetters(suffix, "PM")) {
                    if (h != 12) h += 12;
                } else if (h == 12 && SameLetters(suffix, "AM")) {
                    h = 0;
                }
            }
        }
    }
    if (h < 0 || h > 23 || m < 0 || m > 59) return {};
    return {static_cast<int>(h), static_cast<int>(m)};
}

std::int64_t StartOfDay(std::int64_t t) {
    return AddDays(t, 0);
}

std::int64_t AddDays(std::int64_t t, int days) {
    const auto tm = ups::LocalTime(t);
    if (!tm) return t;
    const std::int64_t r =
        ups::MakeLocalTime(tm->tm_year + 1900, tm->tm_mon, tm->tm_mday + days, 0, 0);
    return r < 0 ? t : r;
}

bool DayFitsEntry(std::int64_t t) {
    const auto tm = ups::LocalTime(t);
    if (!tm) return false;
    const std::int64_t first =
        ups::MakeLocalTime(tm->tm_year + 1900, tm->tm_mon, tm->tm_mday, 0, 0);
    const std::int64_t last =
        ups::MakeLocalTime(tm->tm_year + 1900, tm->tm_mon, tm->tm_mday, 23, 59);
    return first >= 0 && last >= 0 && last <= kEntryTimeMax;
}

std::int64_t ParseDateEdit(std::string_view text, std::int64_t now) {
    const std::int64_t today = StartOfDay(now);
    text = text.substr(0, std::min(text.size(), kDateEditChars));
    long long parts[3] = {};
    int count = 0;
    std::size_t pos = 0;
    while (count < 3) {
        const auto value = ReadInteger(text, pos);
        if (!value || *value == 0) break;
        parts[count++] = *value;
        if (pos < text.size()) ++pos;  // the separator
    }
    const auto nowTm = ups::LocalTime(now);
    if (!nowTm) return today;
    long long year = 0, month = 0, day = 0;
    if (count == 3) {
        year = parts[0];
        month = parts[1];
        day = parts[2];
    } else if (count == 2) {
        year = nowTm->tm_year + 1900LL;
        month = parts[0];
        day = parts[1];
    } else {
        return today;
    }
    if (year < 1 || year > 9999 || month < 1 || month > 12) return today;
    if (day < 1 || day > ups::DaysInMonth(year, static_cast<int>(month - 1))) return today;
    const std::int64_t r = ups::MakeLocalTime(year, month - 1, day, 0, 0);
    // An entry keeps its time in 32 bits: a day before 1970 or after early 2106 would wrap to
    // some other date when it is stored, so such a day is not offered.
    if (r < 0 || !DayFitsEntry(r)) return today;
    return r;
}

ups::CScheduleDetail BuildEntry(int eventRadio, int frequency, int minutes, std::int64_t viewedDay,
                                int hour, int minute) {
    ups::CScheduleDetail entry;
    switch (eventRadio) {
        case 1:
            entry.event = ups::kShutdown;
            break;
        case 2:
            entry.event = ups::kSelfTest;
            entry.testLength = -1;
            break;
        case 3:
            entry.event = ups::kSelfTest;
            entry.testLength = 0;
            break;
        case 4:
            entry.event = ups::kSelfTest;
            entry.testLength = minutes;
            break;
        default:
            entry.event = ups::kSwitchOn;
            break;
    }
    entry.frequency = static_cast<std::uint16_t>(std::clamp(frequency, 0, 3));
    std::int64_t t = viewedDay;
    if (const auto day = ups::LocalTime(viewedDay)) {
        const std::int64_t made =
            ups::MakeLocalTime(day->tm_year + 1900, day->tm_mon, day->tm_mday,
                               std::clamp(hour, 0, 23), std::clamp(minute, 0, 59));
        if (made >= 0) t = made;
    }
    entry.time = static_cast<std::uint32_t>(std::clamp<std::int64_t>(t, 0, kEntryTimeMax));
    return entry;
}

std::string FormatLocal(std::int64_t t, const char* format) {
    const auto tm = ups::LocalTime(t);
    if (!tm) return {};
    // The stream's own classic locale decides the names; the process locale is left alone.
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::put_time(&*tm, format);
    return out.str();
}

std::string EventText(const ups::CScheduleDetail& entry) {
    switch (entry.event) {
        case ups::kSwitchOn:
            return "Turn On UPS";
        case ups::kShutdown:
            return "Shutdown OS and UPS";
        case ups::kSelfTest:
            if (entry.testLength == 0) return "Self-Test 10 seconds";
            if (entry.testLength == -1) return "Self-Test till Battery Low";
            return "Self-Test " + std::to_string(entry.testLength) + " Minutes";
        default:
            // An event this panel does not know (a newer agent's) shows no text rather than
            // someone else's.
            return {};
    }
}

std::string FrequencyText(std::uint16_t frequency) {
    switch (frequency) {
        case ups::kOnce:
            return "Once";
        case ups::kDaily:
            return "Daily";
        case ups::kWeekly:
            return "Weekly";
        case ups::kMonthly:
            return "Monthly";
        default:
            return {};
    }
}

std::string EntryLine(const ups::CScheduleDetail& entry) {
    const std::int64_t t = entry.time;
    return FormatLocal(t, "%I:%M %p") + "  " + FormatLocal(t, "%Y/%m/%d") + " " +
           FormatLocal(t, " %A") + " << " + EventText(entry) + " >> " +
           FrequencyText(entry.frequency);
}

bool ShowsOn(const ups::CScheduleDetail& entry, std::int64_t viewedDay) {
    const auto a = ups::LocalTime(entry.time);
    const auto b = ups::LocalTime(viewedDay);
    return a && b && SameDate(*a, *b);
}

std::string NextTimeText(std::int64_t t) {
    return FormatLocal(t, "%Y/%m/%d %I:%M %p");
}

}  // namespace kelvora::panel
