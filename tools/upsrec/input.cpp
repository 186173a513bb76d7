#include "input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "common.h"
#include "ups_lib/platform/atomic_file.h"

namespace upsrec {

namespace {

// No record of the agent comes near this (a full data log is 40 KB).
constexpr std::uint64_t kMaxInput = 64ULL * 1024 * 1024;

std::vector<std::uint8_t> ReadStdin() {
    std::vector<std::uint8_t> out;
    std::uint8_t buf[8192];
    for (;;) {
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Failure(std::string("cannot read standard input: ") + std::strerror(errno));
        }
        if (n == 0) return out;
        if (out.size() + static_cast<std::size_t>(n) > kMaxInput) {
            throw Failure("standard input is larger than any record");
        }
        out.insert(out.end(), buf, buf + n);
    }
}

}  // namespace

std::vector<std::uint8_t> ReadInput(const std::string& file) {
    if (file == "-") return ReadStdin();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        throw Failure(file + ": no such file");
    }
    auto bytes = ups::platform::ReadWholeFile(file, kMaxInput);
    if (!bytes) throw Failure(file + ": cannot be read (or is larger than any record)");
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
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (localtime_r(&tt, &tm) == nullptr) return std::to_string(t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
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

std::int64_t ParseTime(std::string_view text) {
    if (text.find('-', 1) == std::string_view::npos) {
        return ParseInteger(text, 0, 0xFFFFFFFFLL, "time");
    }
    std::tm tm{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    const std::string s(text);
    char tail = 0;
    const int n =
        std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &sec, &tail);
    if ((n != 5 && n != 6) || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        sec > 60 || y < 1970) {
        throw Failure("time: \"" + s +
                      "\" is neither seconds since 1970 nor YYYY-MM-DD HH:MM[:SS]");
    }
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t < 0 || t > 0xFFFFFFFFLL) throw Failure("time: \"" + s + "\" cannot be stored");
    return t;
}

}  // namespace upsrec
