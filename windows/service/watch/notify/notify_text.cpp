// The texts of the notifications that are the same on every platform: URLs for the report, the
// mail server's address, the mail itself, the time stamps.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "watch/notify/notify_detail.h"

namespace torvane::watch::notify_detail {

namespace {

std::tm Utc(std::time_t when) {
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &when);
#else
    gmtime_r(&when, &tm);
#endif
    return tm;
}

// A body line may end in CR, LF or CRLF; SMTP wants CRLF only.
std::string CrLfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (!out.ends_with("\r\n")) out += "\r\n";
    return out;
}

}  // namespace

std::string WithoutPassword(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos) return std::string(url);
    const std::size_t start = scheme + 3;
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::string_view authority = url.substr(start, end - start);
    const auto at = authority.rfind('@');
    if (at == std::string_view::npos) return std::string(url);
    const auto colon = authority.find(':');
    if (colon == std::string_view::npos || colon > at) return std::string(url);
    return std::string(url.substr(0, start + colon + 1)) + "***" +
           std::string(url.substr(start + at));
}

std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::string MailMessage(const std::string& from, const std::string& to, const std::string& subject,
                        const std::string& body, std::time_t now) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static std::atomic<unsigned> serial{0};
    const std::tm tm = Utc(now);
    char date[128];
    std::snprintf(date, sizeof date, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[tm.tm_wday % 7],
                  tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    const std::string sender = OneLine(from);
    std::string m;
    m += "Date: " + std::string(date) + "\r\n";
    m += "From: <" + sender + ">\r\n";
    m += "To: <" + OneLine(to) + ">\r\n";
    m += "Subject: " + OneLine(subject) + "\r\n";
    m += "Message-ID: <" + std::to_string(static_cast<long long>(now)) + "." +
         std::to_string(++serial) + "." + sender + ">\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: text/plain; charset=utf-8\r\n";
    m += "\r\n";
    m += CrLfLines(body);
    return m;
}

std::string IsoTime(std::int64_t when) {
    const std::tm tm = Utc(static_cast<std::time_t>(when));
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

}  // namespace torvane::watch::notify_detail
