#include "q1_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace upssim {
namespace {

std::string printf_fixed(double value, int width, int decimals) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%0*.*f", width, decimals, value);
    return n < 0 ? std::string() : std::string(buf, std::min<std::size_t>(n, sizeof buf - 1));
}

// Largest magnitudes that fit: `width` characters, `decimals` places, one more for a '-'.
double largest_fitting(int width, int decimals, bool negative) {
    int int_digits = width - (decimals > 0 ? decimals + 1 : 0) - (negative ? 1 : 0);
    if (int_digits < 0) return 0;
    // With no integer digit left "%f" still prints a leading '0', which a '-' cannot spare.
    if (negative && int_digits == 0) return 0;
    return std::pow(10.0, int_digits) - std::pow(10.0, -decimals);
}

}  // namespace

std::string fixed_field(double value, int width, int decimals) {
    if (!std::isfinite(value)) value = std::isnan(value) ? 0.0 : value;
    const double hi = largest_fitting(width, decimals, false);
    const double lo = -largest_fitting(width, decimals, true);
    value = std::clamp(value, lo, hi);
    // Values that round to zero print without a sign; "-00.0" would only confuse a reader.
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;
    std::string text = printf_fixed(value, width, decimals);
    // Rounding can still carry into a new digit (999.96 -> "1000.0").
    if (text.size() > static_cast<std::size_t>(width))
        text = printf_fixed(value < 0 ? lo : hi, width, decimals);
    return text;
}

std::string integer_field(long value, int width) {
    const long hi = static_cast<long>(largest_fitting(width, 0, false));
    const long lo = -static_cast<long>(largest_fitting(width, 0, true));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*ld", width, std::clamp(value, lo, hi));
    return buf;
}

std::string battery_field(double value) {
    // Two places fit four characters only from 0.00 to 9.99 (after rounding).
    if (std::isnan(value) || (value > -0.005 && value < 9.995)) return fixed_field(value, 4, 2);
    return fixed_field(value, 4, 1);
}

std::string text_field(std::string_view text, std::size_t width) {
    std::string field(text.substr(0, width));
    field.resize(width, ' ');
    return field;
}

std::string bits_text(const StatusBits& bits) {
    std::string text;
    for (bool bit : bits) text += bit ? '1' : '0';
    return text;
}

std::string status_reply(const UpsState& ups) {
    const Readings& r = ups.readings;
    std::string s = "(";
    s += fixed_field(ups.utility_failed() ? 0.0 : r.input, 5, 1) + ' ';
    s += fixed_field(r.fault, 5, 1) + ' ';
    s += fixed_field(ups.output_on() ? r.output : 0.0, 5, 1) + ' ';
    s += integer_field(r.load, 3) + ' ';
    s += fixed_field(r.frequency, 4, 1) + ' ';
    s += battery_field(r.battery) + ' ';
    s += fixed_field(r.temperature, 4, 1) + ' ';
    s += bits_text(ups.bits()) + '\r';
    return s;
}

std::string model_reply(const UpsState& ups) {
    const Identity& id = ups.identity;
    return "#" + text_field(id.company, 15) + ' ' + text_field(id.model, 10) + ' ' +
           text_field(id.version, 10) + '\r';
}

std::string rating_reply(const UpsState& ups) {
    const Rating& r = ups.rating;
    return "#" + fixed_field(r.voltage, 5, 1) + ' ' + integer_field(r.current, 3) + ' ' +
           fixed_field(r.battery, 5, 2) + ' ' + fixed_field(r.frequency, 4, 1) + '\r';
}

}  // namespace upssim
