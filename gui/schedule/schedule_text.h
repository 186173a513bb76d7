// The schedule dialogs' reading and writing of times and dates, kept apart from the widgets so
// the rules can be checked directly. Every time here is a calendar time (seconds since 1970 UTC)
// shown in the local time zone; "now" is always passed in, never read from the clock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ups_lib/schedule.h"

namespace kelvora::panel {

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

// The entry editor's time field: an hour, one separator character, a minute and, only after an
// hour of at most 12, an "AM" or "PM" suffix. Anything that is not a time of day gives 00:00.
TimeOfDay ParseTimeEdit(std::string_view text);

// The schedule dialog's date field: "y/m/d", or "m/d" of now's year. A missing or impossible
// date, or one the schedule cannot store, gives today. The result is that day at 00:00.
std::int64_t ParseDateEdit(std::string_view text, std::int64_t now);

// The day of t at 00:00 local time.
std::int64_t StartOfDay(std::int64_t t);
// The day `days` calendar days after (or before) the day of t, at 00:00. Counted on the
// calendar, so a 23- or 25-hour day around a clock change still moves exactly one date.
std::int64_t AddDays(std::int64_t t, int days);
// Whether the whole local day of t can be held in an entry's 32-bit time.
bool DayFitsEntry(std::int64_t t);

// The entry the editor's choices describe, on viewedDay at hour:minute. eventRadio is the
// editor's kind button: 0 switch on, 1 shut down, 2 test until battery low, 3 ten-second test,
// 4 test of `minutes` minutes.
ups::CScheduleDetail BuildEntry(int eventRadio, int frequency, int minutes, std::int64_t viewedDay,
                                int hour, int minute);

// strftime of t in local time, always with the English names of the "C" locale whatever the
// user's locale is: the schedule's lines read the same on every machine.
std::string FormatLocal(std::int64_t t, const char* format);

std::string EventText(const ups::CScheduleDetail& entry);
std::string FrequencyText(std::uint16_t frequency);
// One line of the schedule list.
std::string EntryLine(const ups::CScheduleDetail& entry);
// Whether the entry's first occurrence falls on the local date of viewedDay.
bool ShowsOn(const ups::CScheduleDetail& entry, std::int64_t viewedDay);
// A next-time field's text.
std::string NextTimeText(std::int64_t t);

}  // namespace kelvora::panel
