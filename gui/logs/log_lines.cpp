#include "gui/logs/log_lines.h"

#include <cstdio>
#include <ctime>
#include <optional>

#include "ups_lib/event_texts.h"
#include "ups_lib/schedule_time.h"

namespace kelvora::panel {

namespace {

constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

// Days since 1970-01-01 of a civil date (proleptic Gregorian), so that the offset from UTC
// can be worked out without the non-portable tm_gmtoff.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::string Printf(const char* format, auto... args) {
    char buf[256];
    const int n = std::snprintf(buf, sizeof buf, format, args...);
    if (n < 0) return {};
    return std::string(buf, static_cast<std::size_t>(n) < sizeof buf ? n : sizeof buf - 1);
}

std::string Two(int v) {
    return Printf("%02d", v);
}

}  // namespace

LocalTime ToLocal(std::int64_t t) {
    const std::optional<std::tm> local = ups::LocalTime(t);
    if (!local) return {};
    const std::tm& tm = *local;
    LocalTime lt;
    lt.year = tm.tm_year + 1900;
    lt.month = tm.tm_mon + 1;
    lt.day = tm.tm_mday;
    lt.hour = tm.tm_hour;
    lt.minute = tm.tm_min;
    lt.second = tm.tm_sec;
    lt.weekday = tm.tm_wday;
    const std::int64_t localSeconds =
        DaysFromCivil(lt.year, static_cast<unsigned>(lt.month), static_cast<unsigned>(lt.day)) *
            86400 +
        lt.hour * 3600 + lt.minute * 60 + lt.second;
    lt.utcOffset = static_cast<long>(localSeconds - t);
    return lt;
}

std::string FormatTime(const LocalTime& lt, const char* format) {
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%' || p[1] == '\0') {
            out += *p;
            continue;
        }
        switch (*++p) {
            case 'Y':
                out += std::to_string(lt.year);
                break;
            case 'm':
                out += Two(lt.month);
                break;
            case 'd':
                out += Two(lt.day);
                break;
            case 'H':
                out += Two(lt.hour);
                break;
            case 'I':
                out += Two(lt.hour % 12 == 0 ? 12 : lt.hour % 12);
                break;
            case 'M':
                out += Two(lt.minute);
                break;
            case 'S':
                out += Two(lt.second);
                break;
            case 'p':
                out += lt.hour < 12 ? "AM" : "PM";
                break;
            case 'B':
                if (lt.month >= 1 && lt.month <= 12) out += kMonths[lt.month - 1];
                break;
            case '%':
                out += '%';
                break;
            default:
                out += '%';
                out += *p;
        }
    }
    return out;
}

std::string FormatTime(std::int64_t t, const char* format) {
    return FormatTime(ToLocal(t), format);
}

std::string Tenths(std::int64_t tenths) {
    const bool negative = tenths < 0;
    const std::uint64_t a =
        negative ? 0 - static_cast<std::uint64_t>(tenths) : static_cast<std::uint64_t>(tenths);
    return (negative ? "-" : "") + std::to_string(a / 10) + "." + std::to_string(a % 10);
}

std::vector<std::string> DataRowTexts(const ups::CDataLogRecord& r, int n) {
    return {
        std::to_string(n),
        FormatTime(r.time, "%Y/%m/%d %I:%M:%S %p"),
        Tenths(r.inputVoltage) + " v",
        Tenths(r.outputVoltage) + " v",
        Tenths(r.inputFrequency) + " Hz",
        Tenths(r.load) + " %",
        std::to_string(r.batteryCapacity) + " %",
        Tenths(r.temperature) + " C",
    };
}

std::string DataPrintLine(const ups::CDataLogRecord& r, int n) {
    return Printf("%3d) ", n) + FormatTime(r.time, "%Y/%m/%d %I:%M:%S %p") + " " +
           Tenths(r.inputVoltage) + " V " + Tenths(r.outputVoltage) + " V " +
           Tenths(r.inputFrequency) + " Hz " + Tenths(r.load) + " % " +
           std::to_string(r.batteryCapacity) + " % " + Tenths(r.temperature) + " C";
}

const std::vector<std::string>& DataListHeader() {
    static const std::vector<std::string> lines{
        std::string(64, '_'),
        "                        Input Output",
        "  #   Date       Time    Volt  Volt   Freq  Load  Cap.   Temp",
        std::string(64, '_'),
    };
    return lines;
}

int EventIconIndex(std::uint16_t type) {
    switch (type) {
        case ups::CEventLogRecord::kInformation:
            return 0;
        case ups::CEventLogRecord::kWarning:
            return 1;
        case ups::CEventLogRecord::kError:
            return 2;
        default:
            return -1;
    }
}

EventRow MakeEventRow(const ups::CEventLogRecord& r) {
    const LocalTime lt = ToLocal(r.time);
    return {EventIconIndex(r.type), FormatTime(lt, "%Y/%m/%d"), FormatTime(lt, "%I:%M:%S %p"),
            std::string(ups::EventText(r.eventId))};
}

std::string EventPrintLine(const ups::CEventLogRecord& r, int n) {
    const EventRow row = MakeEventRow(r);
    return Printf("%5d) ", n) + row.date + "  " + row.time + "  " + row.description;
}

const std::vector<std::string>& EventListHeader() {
    static const std::vector<std::string> lines{
        std::string(64, '_'),
        "    #    Date       Time         Event",
        std::string(64, '_'),
    };
    return lines;
}

std::optional<std::string> CalendarDetailLine(const ups::CEventLogRecord& r) {
    const char* what = nullptr;
    switch (r.eventId) {
        case ups::kEvAcFailure:
            what = "  AC Fail";
            break;
        case ups::kEvBatteryLow:
            what = "  BATTERY LOW";
            break;
        case ups::kEvSystemShutdown:
            what = "  SHUTDOWN";
            break;
        case ups::kEvSelfTest:
            what = "  SELF-TEST";
            break;
        default:
            return std::nullopt;
    }
    return FormatTime(r.time, "%I:%M:%S %p") + what;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        out += CsvField(fields[i]);
    }
    return out + "\r\n";
}

std::string IsoLocalTime(std::int64_t t) {
    const LocalTime lt = ToLocal(t);
    const long off = lt.utcOffset < 0 ? -lt.utcOffset : lt.utcOffset;
    return FormatTime(lt, "%Y-%m-%dT%H:%M:%S") + (lt.utcOffset < 0 ? "-" : "+") +
           Two(static_cast<int>(off / 3600)) + ":" + Two(static_cast<int>(off / 60 % 60));
}

std::string DataCsv(const std::vector<ups::CDataLogRecord>& records) {
    std::string out =
        CsvLine({"#", "Time", "Input voltage (V)", "Output voltage (V)", "Frequency (Hz)",
                 "Load (%)", "Battery capacity (%)", "Temperature (C)"});
    int n = 1;
    for (const auto& r : records) {
        out += CsvLine({std::to_string(n++), IsoLocalTime(r.time), Tenths(r.inputVoltage),
                        Tenths(r.outputVoltage), Tenths(r.inputFrequency), Tenths(r.load),
                        std::to_string(r.batteryCapacity), Tenths(r.temperature)});
    }
    return out;
}

std::string EventCsv(const std::vector<ups::CEventLogRecord>& records) {
    std::string out = CsvLine({"#", "Time", "Type", "Event id", "Description"});
    int n = 0;
    for (const auto& r : records) {
        out += CsvLine({std::to_string(n++), IsoLocalTime(r.time),
                        std::string(ups::EventTypeName(r.type)), std::to_string(r.eventId),
                        std::string(ups::EventText(r.eventId))});
    }
    return out;
}

}  // namespace kelvora::panel
