// kelvora.cfg: eleven labelled lines whose bracketed values are the only significant part.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config.h"

namespace {

constexpr std::size_t kCollectMax = 499;  // the collection buffer holds 500 bytes with its NUL

// atoi() without its undefined overflow: leading white space, an optional sign, the leading
// digits; no digits gives 0; values beyond int saturate.
long long Atoi(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long value = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        value = std::min<long long>(value * 10 + (s[i] - '0'), 1LL << 40);
    }
    return negative ? -value : value;
}

int16_t ToI16(std::string_view s) {
    return static_cast<int16_t>(std::clamp<long long>(Atoi(s), INT16_MIN, INT16_MAX));
}

int32_t ToI32(std::string_view s) {
    return static_cast<int32_t>(std::clamp<long long>(Atoi(s), INT32_MIN, INT32_MAX));
}

// The turn-off delay is written with one decimal. Whole minutes keep only the integer part
// (2.5 reads as 2.0); below one minute the digits after "0." are tenths (0.2 reads as 0.2).
float ParseTurnoffDelay(std::string_view token) {
    long long whole = Atoi(token);
    if (whole >= 1) return static_cast<float>(std::min<long long>(whole, INT32_MAX));
    std::string_view tenths = token.size() > 2 ? token.substr(2) : std::string_view{};
    return static_cast<float>(ToI32(tenths)) / 10;
}

// The bracketed values joined by single blanks: "[" opens (and, except the first, stands for a
// blank), "]" closes. Bounded like the original 500-byte buffer.
std::string CollectBracketed(std::string_view text) {
    std::string out;
    bool collecting = false;
    bool first = true;
    for (char ch : text) {
        if (ch == '[') {
            collecting = true;
            if (first) {
                first = false;
                continue;
            }
            ch = ' ';
        } else if (ch == ']') {
            collecting = false;
            continue;
        } else if (!collecting) {
            continue;
        }
        if (out.size() < kCollectMax) out.push_back(ch);
    }
    return out;
}

std::vector<std::string_view> SplitBlanks(std::string_view s) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        std::size_t start = i;
        while (i < s.size() && s[i] != ' ') ++i;
        if (i > start) tokens.push_back(s.substr(start, i - start));
    }
    return tokens;
}

void AppendLine(std::string& out, const char* format, auto value) {
    char line[160];
    int n = std::snprintf(line, sizeof line, format, value);
    if (n > 0) out.append(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

}  // namespace

void SetConfigText(char (&field)[30], std::string_view text) {
    std::size_t n = std::min(text.size(), kConfigTextMax);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, sizeof field - n);
}

std::string FormatCfgText(const UpsConfig& c) {
    auto text = [](const char (&field)[30]) { return std::string(field, strnlen(field, 30)); };
    std::string out;
    AppendLine(out, "AC Fail Delay         ( 1 ... 1440 min. )  : [%d]\n", int{c.acfail_delay});
    AppendLine(out, "Batt Low Delay        ( 1 ... 10 min.   )  : [%d]\n", int{c.battlow_delay});
    AppendLine(out, "Turn Off UPS Delay    ( 0.2 ... 10 min. )  : [%2.1f]\n", double{c.turnoff_delay});
    AppendLine(out, "Battery Rating        ( 12.0 ... 96.0 v )  : [%2.1f]\n", double{c.battery_rating});
    AppendLine(out, "UPS Comport           ( /dev/xxttyxx    )  : [%s]\n", text(c.comport).c_str());
    AppendLine(out, "Turn Off UPS?         ( 0 - no, 1 - yes )  : [%d]\n", int{c.turnoff_ups});
    AppendLine(out, "Schedule Function     ( 0 - off, 1 - on )  : [%d]\n", int{c.schedule_on});
    AppendLine(out, "Countdown Function    ( 0 - off, 1 - on )  : [%d]\n", int{c.countdown_on});
    AppendLine(out, "Communication Mode    ( 0-Port, 1-SNMP  )  : [%d]\n", int{c.comm_mode});
    AppendLine(out, "SNMP IP Address       ( xxx.xxx.xxx.xxx )  : [%s]\n", text(c.agent_ip).c_str());
    AppendLine(out, "SNMP Community Name   ( e.g. gazers     )  : [%s]\n", text(c.community).c_str());
    return out;
}

void ApplyCfgText(std::string_view text, UpsConfig& c) {
    std::string values = CollectBracketed(text);
    std::vector<std::string_view> t = SplitBlanks(values);
    auto has = [&](std::size_t n) { return t.size() >= n; };
    if (has(1)) c.acfail_delay = ToI16(t[0]);
    if (has(2)) c.battlow_delay = ToI16(t[1]);
    if (has(3)) c.turnoff_delay = ParseTurnoffDelay(t[2]);
    if (has(4)) c.battery_rating = static_cast<float>(ToI32(t[3]));
    if (has(5)) SetConfigText(c.comport, t[4]);
    if (has(6)) c.turnoff_ups = ToI32(t[5]);
    if (has(7)) c.schedule_on = ToI16(t[6]);
    if (has(8)) c.countdown_on = ToI16(t[7]);
    if (has(9)) c.comm_mode = ToI32(t[8]);
    if (has(10)) SetConfigText(c.agent_ip, t[9]);
    if (has(11)) SetConfigText(c.community, t[10]);
}
