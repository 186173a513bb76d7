#include "text_util.h"

#include <algorithm>

namespace {

constexpr int kSaturate = 1000000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int ChkFloat(std::string_view text) {
    int dots = 0;
    for (char c : text) {
        if (c == '.') {
            ++dots;
        } else if (!IsDigit(c)) {
            return 0;
        }
    }
    return (dots == 1 && text.size() > 1) ? 1 : 0;
}

int ChkInt(std::string_view text) {
    return std::all_of(text.begin(), text.end(), IsDigit) ? 1 : 0;
}

void RpLeadingZeros(std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size() && text[i] == '0'; ++i) {
        if (IsDigit(text[i + 1])) text[i] = ' ';
    }
}

std::string RpLeadingZeros(std::string_view text) {
    std::string out(text);
    RpLeadingZeros(out);
    return out;
}

void RmLeadingSpace(std::string& text) {
    text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
}

int CutToRange(int value, int low, int high) {
    return std::clamp(value, low, high);
}

int BarCells(int n, int limit) {
    if (n < 0 || limit <= 0) return 0;
    return std::min(n, limit - 1) + 1;
}

std::string MakeBar(int n, int limit) {
    return std::string(static_cast<std::size_t>(BarCells(n, limit)), ' ');
}

int LeadingInt(std::string_view text) {
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c)) break;
        value = std::min(value * 10 + (c - '0'), kSaturate);
    }
    return value;
}

int WholePart(std::string_view number) {
    return LeadingInt(number);
}

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c < 0x20 || c > 0x7e) c = ' ';
    }
    return out;
}
