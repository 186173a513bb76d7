#include "report_format.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <variant>
#include <vector>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence that starts `text` at `i`, or 0 when it is none (a stray
// continuation byte, an overlong form, a surrogate, a cut sequence).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    std::uint32_t min = 0;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    // C1 controls (U+0080 to U+009F) move a terminal's cursor as well as the C0 ones do.
    if (code >= 0x80 && code <= 0x9F) return 0;
    return length;
}

struct Null {};
struct Num {
    Number text;
};
struct Str {
    std::optional<std::string> text;
};
// One value of the report: unknown, a flag, a number's text, or a string.
using Value = std::variant<Null, bool, Num, Str>;

struct Entry {
    std::string_view key;
    Value value;
};

Value Int(const std::optional<int64_t>& v) {
    return Num{v ? Number(std::to_string(*v)) : Number()};
}

Value Flag(const std::optional<bool>& v) {
    if (!v) return Null{};
    return *v;
}

// The keys in print order. Those the agent's /status.json has come first under its names.
std::vector<Entry> Entries(const StatusReport& r) {
    std::optional<std::string> reading_time;
    if (r.updated_at) reading_time = UtcTime(*r.updated_at);
    std::optional<std::string> source;
    if (!r.source.empty()) source = r.source;
    return {
        {"connected", r.connected()},
        {"status", Str{r.status}},
        {"on_battery", Flag(r.on_battery)},
        {"battery_low", Flag(r.battery_low)},
        {"self_test", Flag(r.self_test)},
        {"boost", Flag(r.boost)},
        {"trim", Flag(r.trim)},
        {"battery_charge_percent", Num{r.battery_charge_percent}},
        {"battery_voltage_volts", Num{r.battery_voltage_volts}},
        {"input_voltage_volts", Num{r.input_voltage_volts}},
        {"input_frequency_hertz", Num{r.input_frequency_hertz}},
        {"output_voltage_volts", Num{r.output_voltage_volts}},
        {"load_percent", Num{r.load_percent}},
        {"temperature_celsius", Num{r.temperature_celsius}},
        {"manufacturer", Str{r.manufacturer}},
        {"model", Str{r.model}},
        {"firmware", Str{r.firmware}},
        {"updated_at", Int(r.updated_at)},
        {"ups_failed", Flag(r.ups_failed)},
        {"ups_type", Str{r.ups_type}},
        {"input_fault_voltage_volts", Num{r.input_fault_voltage_volts}},
        {"rating_voltage_volts", Num{r.rating_voltage_volts}},
        {"rating_current_amperes", Num{r.rating_current_amperes}},
        {"rating_battery_voltage_volts", Num{r.rating_battery_voltage_volts}},
        {"rating_frequency_hertz", Num{r.rating_frequency_hertz}},
        {"reading_time", Str{reading_time}},
        {"reading_age_seconds", Int(r.age_seconds)},
        {"daemon_running", r.daemon_running},
        {"daemon_pid", Int(r.daemon_pid)},
        {"source", Str{source}},
    };
}

std::string Render(const Value& value, bool json) {
    struct Visitor {
        bool json;
        std::string operator()(Null) const { return json ? "null" : "N/A"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(const Num& n) const { return n.text ? *n.text : (*this)(Null{}); }
        std::string operator()(const Str& s) const {
            if (!s.text) return (*this)(Null{});
            return json ? JsonString(*s.text) : CleanText(*s.text);
        }
    };
    return std::visit(Visitor{json}, value);
}

}  // namespace

std::string CleanText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8Length(text, i);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            out += kReplacement;
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : CleanText(text)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string ReportText(const StatusReport& report) {
    std::string out;
    for (const Entry& e : Entries(report)) {
        out += std::string(e.key) + ": " + Render(e.value, false) + "\n";
    }
    return out;
}

std::string ReportJson(const StatusReport& report) {
    std::string out = "{";
    for (const Entry& e : Entries(report)) {
        if (out.size() > 1) out += ',';
        out += "\"" + std::string(e.key) + "\":" + Render(e.value, true);
    }
    return out + "}\n";
}

std::string UtcTime(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char buf[64];
    if (gmtime_r(&t, &tm) == nullptr ||
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) {
        return "";
    }
    return buf;
}
