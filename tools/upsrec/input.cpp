#include "input.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "common.h"
#include "ups_lib/ini_file.h"
#include "ups_lib/log_file.h"
#include "ups_lib/platform/atomic_file.h"
#include "ups_lib/platform/registry.h"
#include "ups_lib/schedule_time.h"

namespace upsrec {

const InputLimit kRegistryRecordInput{ups::platform::Registry::kMaxValueSize,
                                      "any record the agent keeps in the registry"};
// A UPS reply line is well under a hundred bytes; this leaves room for any dialect.
const InputLimit kUpsRecordInput{ups::platform::Registry::kMaxValueSize,
                                 "any UPS record the agent sends"};
const InputLimit kEventLogInput{ups::kEventFileLimits.LargestFile(),
                                "any event log the agent writes"};
const InputLimit kDataLogInput{ups::kDataFileLimits.LargestFile(), "any data log the agent writes"};
const InputLimit kCloseInfoInput{ups::IniFile::kMaxFileSize, "any CLOSEAPP.INI the agent reads"};
// Room for a registry record whose every byte is written out as a six-character JSON escape.
const InputLimit kJsonInput{8 * ups::platform::Registry::kMaxValueSize,
                            "any JSON document upsrec takes"};

namespace {

std::vector<std::uint8_t> ReadStdin(const InputLimit& limit) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);  // the bytes as they are, no line-end translation
#endif
    std::vector<std::uint8_t> out;
    std::uint8_t buf[8192];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, stdin);
        if (n == 0) {
            if (std::ferror(stdin))
                throw Failure(std::string("cannot read standard input: ") + std::strerror(errno));
            return out;
        }
        if (out.size() + static_cast<std::size_t>(n) > limit.bytes) {
            throw Failure(TooLargeMessage("standard input", limit));
        }
        out.insert(out.end(), buf, buf + n);
    }
}

}  // namespace

std::string TooLargeMessage(const std::string& name, const InputLimit& limit) {
    return name + " is larger than " + std::string(limit.what) + " (at most " +
           std::to_string(limit.bytes) + " bytes)";
}

std::vector<std::uint8_t> ReadInput(const std::string& file, const InputLimit& limit) {
    if (file == "-") return ReadStdin(limit);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        throw Failure(file + ": no such file");
    }
    ups::platform::ReadError error = ups::platform::ReadError::Unreadable;
    auto bytes = ups::platform::ReadWholeFile(file, limit.bytes, &error);
    if (!bytes) {
        if (error == ups::platform::ReadError::TooLarge)
            throw Failure(TooLargeMessage(file, limit));
        throw Failure(file + ": cannot be read");
    }
    return *bytes;
}

void LoadStrict(ups::Serializable& record, const std::vector<std::uint8_t>& bytes,
                std::string_view kind) {
    ups::MemorySource source(bytes);
    ups::Archive ar = ups::Archive::Loading(source);
    try {
        record.Serialize(ar);
    } catch (const ups::ArchiveError& e) {
        throw Failure(std::string(kind) + ": not a valid record (" + e.what() + "; " +
                      std::to_string(bytes.size()) + " bytes given)");
    }
    if (ar.Consumed() != bytes.size()) {
        throw Failure(std::string(kind) + ": " + std::to_string(bytes.size() - ar.Consumed()) +
                      " unexpected bytes after the end of the record");
    }
}

std::string LocalTimeText(std::int64_t t) {
    const std::optional<std::tm> tm = ups::LocalTime(t);
    if (!tm) return std::to_string(t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &*tm);
    return buf;
}

std::int64_t ParseInteger(std::string_view text, std::int64_t min, std::int64_t max,
                          std::string_view what) {
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string_view::npos) {
        throw Failure(std::string(what) + ": \"" + std::string(text) + "\" is not a whole number");
    }
    std::int64_t v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    if (negative) v = -v;
    if (v < min || v > max) {
        throw Failure(std::string(what) + ": " + std::to_string(v) + " is outside " +
                      std::to_string(min) + ".." + std::to_string(max));
    }
    return v;
}

namespace {

bool LeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// Takes from..to decimal digits (nothing else, no sign) off the front of s.
bool TakeNumber(std::string_view& s, std::size_t from, std::size_t to, int& out) {
    std::size_t n = 0;
    while (n < s.size() && n < to && s[n] >= '0' && s[n] <= '9') ++n;
    if (n < from) return false;
    out = 0;
    for (std::size_t i = 0; i < n; ++i) out = out * 10 + (s[i] - '0');
    s.remove_prefix(n);
    return true;
}

bool TakeChar(std::string_view& s, char c) {
    if (s.empty() || s.front() != c) return false;
    s.remove_prefix(1);
    return true;
}

}  // namespace

std::int64_t ParseTime(std::string_view text) {
    if (text.find('-', 1) == std::string_view::npos) {
        return ParseInteger(text, 0, 0xFFFFFFFFLL, "time");
    }
    const std::string quoted = "\"" + std::string(text) + "\"";
    // Exactly YYYY-MM-DD HH:MM or YYYY-MM-DD HH:MM:SS: mktime would turn a stray field into some
    // other date rather than refuse it, so every field is checked here first.
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    std::string_view s = text;
    bool ok = TakeNumber(s, 4, 4, y) && TakeChar(s, '-') && TakeNumber(s, 1, 2, mo) &&
              TakeChar(s, '-') && TakeNumber(s, 1, 2, d) && TakeChar(s, ' ') &&
              TakeNumber(s, 1, 2, h) && TakeChar(s, ':') && TakeNumber(s, 1, 2, mi);
    if (ok && !s.empty()) ok = TakeChar(s, ':') && TakeNumber(s, 1, 2, sec) && s.empty();
    if (!ok) {
        throw Failure("time: " + quoted +
                      " is neither seconds since 1970 nor YYYY-MM-DD HH:MM[:SS]");
    }
    std::string wrong;
    if (y < 1970)
        wrong = "years before 1970 cannot be stored";
    else if (mo < 1 || mo > 12)
        wrong = "there is no month " + std::to_string(mo);
    else if (d < 1 || d > DaysInMonth(y, mo))
        wrong = "that month has " + std::to_string(DaysInMonth(y, mo)) + " days";
    else if (h > 23)
        wrong = "hours go from 0 to 23";
    else if (mi > 59)
        wrong = "minutes go from 0 to 59";
    else if (sec > 59)
        wrong = "seconds go from 0 to 59";
    if (!wrong.empty()) throw Failure("time: " + quoted + " is not a real time (" + wrong + ")");

    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t < 0 || t > 0xFFFFFFFFLL) throw Failure("time: " + quoted + " cannot be stored");
    // A valid date can still be missing from the local calendar: the hour the clocks skip when
    // summer time begins. mktime moves it; it is refused instead.
    if (tm.tm_year != y - 1900 || tm.tm_mon != mo - 1 || tm.tm_mday != d || tm.tm_hour != h ||
        tm.tm_min != mi || tm.tm_sec != sec) {
        throw Failure("time: " + quoted +
                      " does not exist in local time (the clocks skip it for summer time)");
    }
    return t;
}

}  // namespace upsrec
