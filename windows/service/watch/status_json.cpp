#include "watch/status_json.h"

#include <cstdio>

namespace torvane::watch {

namespace {

// A value sent in tenths (or hundredths), or null before the UPS sent one.
std::string Scaled(std::int32_t value, int divisor, bool known) {
    if (!known) return "null";
    char text[32];
    std::snprintf(text, sizeof text, divisor == 100 ? "%.2f" : "%.1f",
                  static_cast<double>(value) / divisor);
    return text;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
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
    return length;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text.substr(i, length));
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        i += length;
    }
    return out + "\"";
}

std::string StatusJson(const UpsSnapshot& ups, std::int64_t now) {
    const bool known = ups.connected && !ups.status.rawLine.empty();
    const auto& s = ups.status;
    const auto flag = [](bool on) { return on ? "true" : "false"; };
    std::string j = "{";
    j += "\"connected\":" + std::string(flag(ups.connected));
    j += ",\"status\":" + JsonString(StatusWords(ups));
    j += ",\"on_battery\":" + std::string(flag(ups.acFail));
    j += ",\"battery_low\":" + std::string(flag(ups.batteryLow));
    j += ",\"self_test\":" + std::string(flag(ups.selfTest));
    j += ",\"boost\":" + std::string(flag(ups.boost));
    j += ",\"trim\":" + std::string(flag(ups.buck));
    j += ",\"bypass\":" + std::string(flag(ups.bypass));
    j += ",\"forced_shutdown\":" + std::string(flag(ups.forcedShutdown));
    j += ",\"countdown_seconds\":" + std::to_string(ups.countdownSeconds);
    j += ",\"battery_charge_percent\":" + (known ? std::to_string(s.batteryCapacity) : "null");
    j += ",\"battery_voltage_volts\":" + Scaled(s.batteryVoltage, 100, known);
    j += ",\"input_voltage_volts\":" + Scaled(s.inputVoltage, 10, known);
    j += ",\"input_frequency_hertz\":" + Scaled(s.inputFrequency, 10, known);
    j += ",\"output_voltage_volts\":" + Scaled(s.outputVoltage, 10, known);
    j += ",\"load_percent\":" + Scaled(s.load, 10, known);
    j += ",\"temperature_celsius\":" + Scaled(s.temperature, 10, known);
    j += ",\"manufacturer\":" + JsonString(ups.basic.company);
    j += ",\"model\":" + JsonString(ups.basic.model);
    j += ",\"firmware\":" + JsonString(ups.basic.version);
    j += ",\"agent_uptime_seconds\":" +
         std::to_string(ups.startedAt > 0 && now > ups.startedAt ? now - ups.startedAt : 0);
    j += ",\"updated_at\":" + std::to_string(ups.updatedAt);
    j += ",\"events\":{";
    for (std::size_t k = 0; k < kEventKinds; ++k) {
        if (k > 0) j += ',';
        j += JsonString(EventName(static_cast<EventKind>(k))) + ":" + std::to_string(ups.events[k]);
    }
    j += "}}";
    return j;
}

}  // namespace torvane::watch
