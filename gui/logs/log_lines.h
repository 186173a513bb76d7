// The texts the log dialogs show, print and export for each record. Kept free of widgets so
// the exact bytes can be checked on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ups_lib/log_records.h"

namespace kelvora::panel {

// A broken-down local time, as the dialogs need it.
struct LocalTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;     // 0 = Sunday
    long utcOffset = 0;  // seconds east of UTC
};

// The local time of t (seconds since 1970 UTC); the epoch itself when the system cannot convert.
LocalTime ToLocal(std::int64_t t);

// Formats with the strftime conversions %Y %m %d %H %I %M %S %p %B %% and copies anything else
// as it stands. Month names and AM/PM are always English, whatever the user's locale says.
std::string FormatTime(const LocalTime& lt, const char* format);
std::string FormatTime(std::int64_t t, const char* format);

// "%3.1f" of tenths / 10 without going through the C locale, whose decimal separator may be a
// comma once the application has adopted the user's settings.
std::string Tenths(std::int64_t tenths);

// Data log. The eight column texts of record number n, and its print line.
std::vector<std::string> DataRowTexts(const ups::CDataLogRecord& r, int n);
std::string DataPrintLine(const ups::CDataLogRecord& r, int n);
const std::vector<std::string>& DataListHeader();

// Event log. Which of the three icons (information, warning, error) a record type gets, or -1
// for a type that is none of them.
int EventIconIndex(std::uint16_t type);
struct EventRow {
    int icon = -1;
    std::string date;
    std::string time;
    std::string description;  // empty for an id the table does not hold
};
EventRow MakeEventRow(const ups::CEventLogRecord& r);
std::string EventPrintLine(const ups::CEventLogRecord& r, int n);
const std::vector<std::string>& EventListHeader();

// The calendar's detail line of an event, or nothing for the events the calendar leaves out.
std::optional<std::string> CalendarDetailLine(const ups::CEventLogRecord& r);

// CSV (RFC 4180): fields quoted when they hold a comma, quote or line break; lines end in CRLF.
std::string CsvField(const std::string& text);
std::string CsvLine(const std::vector<std::string>& fields);
// ISO 8601 local time with its offset, e.g. 2026-08-01T14:05:09+08:00.
std::string IsoLocalTime(std::int64_t t);
std::string DataCsv(const std::vector<ups::CDataLogRecord>& records);
std::string EventCsv(const std::vector<ups::CEventLogRecord>& records);

}  // namespace kelvora::panel
