#include "status_report.h"

#include <cstdio>

#include "q1_protocol.h"
#include "screen_data.h"

namespace {

// The model reply's three texts: the company, the model and the firmware version.
//  < [#Stavlen         SIM-1000   1.0       \r]
//     0         1         2         3
//     012345678901234567890123456789012345678
//     #company------- model----- version---
struct TextField {
    std::size_t at;
    std::size_t width;
};
constexpr TextField kCompany{.at = 1, .width = 15};
constexpr TextField kModelName{.at = 17, .width = 10};
constexpr TextField kVersion{.at = 28, .width = 10};

std::optional<std::string> Trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::optional<std::string> Slice(std::string_view line, TextField f) {
    if (f.at >= line.size()) return std::nullopt;
    return Trimmed(line.substr(f.at, f.width));
}

// A reading of the status screen's record ("N/A" or its text, perhaps with leading blanks).
Number FromField(std::string_view field) {
    if (field == kNA) return std::nullopt;
    std::size_t first = field.find_first_not_of(' ');
    return first == std::string_view::npos ? std::nullopt : JsonNumber(field.substr(first));
}

// A text field of the record that holds one of two words, or "N/A".
std::optional<bool> Flag(std::string_view field, std::string_view on, std::string_view off) {
    if (field == on) return true;
    if (field == off) return false;
    return std::nullopt;
}

// The status reply's second token, the input voltage of the last line fault. The status
// screen's record keeps it in four characters, too few for "190.0", so it is taken here.
Number FaultVoltage(std::string_view status) {
    status = status.substr(0, status.find('\0'));
    std::size_t first = status.find_first_not_of(q1::kStatusSeparators);
    if (first == std::string_view::npos) return std::nullopt;
    std::size_t end = status.find_first_of(q1::kStatusSeparators, first);
    if (end == std::string_view::npos) return std::nullopt;
    std::size_t second = status.find_first_not_of(q1::kStatusSeparators, end);
    if (second == std::string_view::npos) return std::nullopt;
    std::size_t second_end = status.find_first_of(q1::kStatusSeparators, second);
    std::string_view token =
        status.substr(second, second_end == std::string_view::npos ? std::string_view::npos
                                                                   : second_end - second);
    return token.size() <= 8 ? JsonNumber(token) : std::nullopt;
}

std::string Tenths(int value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", value / 10.0);
    return buf;
}

// An agent's string comes in double quotes; anything after the closing one is not part of it.
std::optional<std::string> AgentText(const SnmpRead& read, snmp::Obj object) {
    std::optional<std::string> value = read(object);
    if (!value) return std::nullopt;
    CleanString(*value);
    std::string_view text = *value;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return Trimmed(text);
}

std::optional<int> AgentInt(const SnmpRead& read, snmp::Obj object) {
    std::optional<std::string> value = read(object);
    if (!value) return std::nullopt;
    return SnmpInt(*value);
}

}  // namespace

Number JsonNumber(std::string_view text) {
    std::string out;
    if (!text.empty() && text.front() == '-') {
        out += '-';
        text.remove_prefix(1);
    }
    std::size_t point = text.find('.');
    std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
    auto digits = [](std::string_view s) {
        return s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if ((whole.empty() && fraction.empty()) || !digits(whole) || !digits(fraction)) {
        return std::nullopt;
    }
    // JSON allows no leading zeros ("023") and no bare point (".5", "12.").
    std::size_t nonzero = whole.find_first_not_of('0');
    out += nonzero == std::string_view::npos ? "0" : std::string(whole.substr(nonzero));
    if (!fraction.empty()) out += "." + std::string(fraction);
    // A negative zero is just zero.
    if (out.front() == '-' && out.find_first_of("123456789") == std::string::npos) out.erase(0, 1);
    return out;
}

void ForgetUps(StatusReport& r) {
    StatusReport blank;
    blank.source = r.source;
    blank.daemon_running = r.daemon_running;
    blank.daemon_pid = r.daemon_pid;
    blank.reading = r.reading;
    blank.fresh = r.fresh;
    blank.updated_at = r.updated_at;
    blank.age_seconds = r.age_seconds;
    r = blank;
}

void ReportFromReplies(StatusReport& r, std::string_view status, std::string_view model,
                       std::string_view rating, float battery_rating) {
    ForgetUps(r);
    ScreenData data;
    InitScreenData(data);
    if (battery_rating > 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%4.1f", battery_rating);
        data.battery_rating = buf;
    }
    GetFromQ1(data, status);
    GetFromF(data, rating);

    r.on_battery = Flag(data.input_ac, "AC FAILS", "Normal  ");
    r.battery_low = Flag(data.battery_state, "BAT. LOW", "Normal  ");
    r.ups_failed = Flag(data.ups_fault, "FAILED", "Normal");
    r.self_test = Flag(data.self_test, "In Progress", "Stop       ");
    r.reading = r.on_battery.has_value();
    if (data.ups_type == "Standby") r.ups_type = "standby";
    if (data.ups_type == "On Line") r.ups_type = "online";

    r.input_voltage_volts = FromField(data.input_voltage);
    r.input_fault_voltage_volts = FaultVoltage(status);
    r.output_voltage_volts = FromField(data.output_voltage);
    r.load_percent = FromField(data.load);
    r.input_frequency_hertz = FromField(data.input_frequency);
    r.battery_voltage_volts = FromField(data.battery_voltage);
    r.temperature_celsius = FromField(data.temperature);
    r.rating_voltage_volts = FromField(data.rating_voltage);
    r.rating_current_amperes = FromField(data.rating_current);
    r.rating_battery_voltage_volts = FromField(data.battery_rating);
    r.rating_frequency_hertz = FromField(data.rating_frequency);

    // The UPS has one bit for both: it boosts a low line and trims a high one, so the output
    // above the input means boosting.
    if (std::optional<bool> either = Flag(data.boost_buck, "ON ", "OFF")) {
        double in = r.input_voltage_volts ? std::stod(*r.input_voltage_volts) : 0;
        double out = r.output_voltage_volts ? std::stod(*r.output_voltage_volts) : 0;
        r.boost = *either && out > in;
        r.trim = *either && !*r.boost;
    }
    if (float level = BatteryLevel(data); level >= 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", level);
        r.battery_charge_percent = buf;
    }

    std::string_view line = model.substr(0, model.find('\0'));
    r.manufacturer = Slice(line, kCompany);
    r.model = Slice(line, kModelName);
    r.firmware = Slice(line, kVersion);
    if (r.reading) r.status = StatusWords(r);
}

void ReportFromAgent(StatusReport& r, const SnmpRead& read) {
    ForgetUps(r);
    std::optional<int> line = AgentInt(read, snmp::kLineVoltage);
    r.reading = line.has_value();
    if (!line) return;
    r.input_voltage_volts = Tenths(*line);
    // As the daemon reads it: no line voltage at all is a utility failure.
    if (*line >= 0) r.on_battery = *line == 0;
    if (std::optional<int> battery = AgentInt(read, snmp::kBatteryStatus)) {
        if (*battery == 2 || *battery == 3) r.battery_low = *battery == 3;
    }
    if (std::optional<int> out = AgentInt(read, snmp::kOutputVoltage)) {
        // No output frequency means no output, whatever voltage the UPS reports.
        std::optional<int> hertz = AgentInt(read, snmp::kOutputFrequency);
        r.output_voltage_volts = Tenths(hertz && *hertz == 0 ? 0 : *out);
    }
    if (std::optional<int> load = AgentInt(read, snmp::kOutputLoad)) {
        r.load_percent = std::to_string(*load);
    }
    if (std::optional<int> charge = AgentInt(read, snmp::kBatteryCapacity)) {
        r.battery_charge_percent = std::to_string(*charge);
    }
    if (std::optional<int> volts = AgentInt(read, snmp::kBatteryVoltage)) {
        r.battery_voltage_volts = Tenths(*volts);
    }
    if (std::optional<int> hertz = AgentInt(read, snmp::kInputFrequency)) {
        r.input_frequency_hertz = Tenths(*hertz);
    }
    // The agent sends 0 when the UPS has no thermometer.
    if (std::optional<int> temp = AgentInt(read, snmp::kTemperature); temp && *temp > 0) {
        r.temperature_celsius = Tenths(*temp);
    }
    if (std::optional<int> test = AgentInt(read, snmp::kSelfTestState)) r.self_test = *test == 4;
    if (std::optional<int> output = AgentInt(read, snmp::kOutputStatus); output && *output >= 2) {
        r.boost = *output == 4;
        r.trim = *output == 6;
    }
    if (std::optional<int> rated = AgentInt(read, snmp::kBatteryRatingVoltage)) {
        r.rating_battery_voltage_volts = Tenths(*rated);
    }
    r.model = AgentText(read, snmp::kModel);
    r.firmware = AgentText(read, snmp::kFirmwareRev);
    if (r.on_battery) r.status = StatusWords(r);
}

std::string StatusWords(const StatusReport& r) {
    if (!r.on_battery) return "";
    std::string words = *r.on_battery ? "OB" : "OL";
    auto add = [&words](const std::optional<bool>& flag, std::string_view word) {
        if (flag.value_or(false)) words += " " + std::string(word);
    };
    add(r.battery_low, "LB");
    add(r.self_test, "CAL");
    add(r.boost, "BOOST");
    add(r.trim, "TRIM");
    add(r.ups_failed, "ALARM");
    return words;
}
