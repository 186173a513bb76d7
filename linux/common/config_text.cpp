// kelvora.cfg: eleven labelled lines whose bracketed values are the only significant part.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include "config.h"
#include "config_fields.h"

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
    if (n > 0)
        out.append(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

}  // namespace

void SetConfigText(char (&field)[30], std::string_view text) {
    std::size_t n = std::min(text.size(), kConfigTextMax);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, sizeof field - n);
}

std::string FormatCfgText(const UpsConfig& c) {
    std::string out;
    for (const config_fields::Field& f : config_fields::kFields) {
        std::visit(
            [&](auto member) {
                const auto& v = c.*member;
                using T = std::remove_cvref_t<decltype(v)>;
                if constexpr (std::is_array_v<T>) {
                    AppendLine(out, f.line, std::string(v, strnlen(v, sizeof v)).c_str());
                } else if constexpr (std::is_same_v<T, float>) {
                    AppendLine(out, f.line, double{v});
                } else {
                    AppendLine(out, f.line, int{v});
                }
            },
            f.member);
    }
    return out;
}

void ApplyCfgText(std::string_view text, UpsConfig& c) {
    std::string values = CollectBracketed(text);
    std::vector<std::string_view> tokens = SplitBlanks(values);
    // A text file with fewer values leaves the remaining fields as they were.
    for (std::size_t i = 0; i < tokens.size() && i < config_fields::kFields.size(); ++i) {
        const config_fields::Field& f = config_fields::kFields[i];
        std::string_view t = tokens[i];
        std::visit(
            [&](auto member) {
                auto& v = c.*member;
                using T = std::remove_cvref_t<decltype(v)>;
                if constexpr (std::is_array_v<T>) {
                    SetConfigText(v, t);
                } else if constexpr (std::is_same_v<T, float>) {
                    v = f.rule == config_fields::TextRule::kTurnoffDelay
                            ? ParseTurnoffDelay(t)
                            : static_cast<float>(ToI32(t));
                } else if constexpr (std::is_same_v<T, int16_t>) {
                    v = ToI16(t);
                } else {
                    v = ToI32(t);
                }
            },
            f.member);
    }
}
