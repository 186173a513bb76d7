// The snapshot in the Prometheus text format (version 0.0.4): one family per line group, each
// with its # HELP and # TYPE, names carrying their units as Prometheus asks.
#include <array>
#include <string_view>

#include "watch/http/metrics_server.h"
#include "watch/status_json.h"

namespace torvane::watch {

namespace {

// The UPS's values come in tenths or hundredths: written exactly, without a float's rounding.
std::string Decimal(std::int64_t value, int divisor) {
    if (divisor == 1) return std::to_string(value);
    const bool negative = value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const int digits = divisor == 100 ? 2 : 1;
    std::string fraction = std::to_string(magnitude % static_cast<std::uint64_t>(divisor));
    fraction.insert(0, static_cast<std::size_t>(digits) - fraction.size(), '0');
    return (negative ? "-" : "") + std::to_string(magnitude / static_cast<std::uint64_t>(divisor)) +
           "." + fraction;
}

// A label value from the UPS's identification: its fixed-width padding trimmed, backslash,
// quote and line feed escaped as the format asks. The text is whatever the firmware sends, so
// bytes that are not UTF-8, and control characters, become U+FFFD: a scraper rejects the whole
// page for one bad byte.
std::string LabelValue(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text.substr(i, length));
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\xEF\xBF\xBD";
        } else {
            out += static_cast<char>(c);
        }
        i += length;
    }
    return out;
}

class Page {
  public:
    void Family(std::string_view name, std::string_view type, std::string_view help) {
        text_ += "# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += "\n# TYPE ";
        text_ += name;
        text_ += ' ';
        text_ += type;
        text_ += '\n';
    }
    void Sample(std::string_view name, std::string_view labels, std::string_view value) {
        text_ += name;
        if (!labels.empty()) {
            text_ += '{';
            text_ += labels;
            text_ += '}';
        }
        text_ += ' ';
        text_ += value;
        text_ += '\n';
    }
    void Gauge(std::string_view name, std::string_view help, std::string_view value) {
        Family(name, "gauge", help);
        Sample(name, "", value);
    }
    std::string Take() { return std::move(text_); }

  private:
    std::string text_;
};

}  // namespace

std::string MetricsText(const UpsSnapshot& ups, std::int64_t now) {
    Page page;
    page.Gauge("kelvora_ups_connected", "Whether the UPS answers the agent (1) or not (0).",
               ups.connected ? "1" : "0");
    // Only what the UPS said: while it is silent, or before its first status, a value of 0
    // would read as a dead battery or a failed utility.
    if (ups.connected && !ups.status.rawLine.empty()) {
        const auto& s = ups.status;
        page.Gauge("kelvora_ups_input_voltage_volts", "Utility voltage at the UPS input.",
                   Decimal(s.inputVoltage, 10));
        page.Gauge("kelvora_ups_output_voltage_volts", "Voltage at the UPS output.",
                   Decimal(s.outputVoltage, 10));
        page.Gauge("kelvora_ups_input_frequency_hertz", "Utility frequency at the UPS input.",
                   Decimal(s.inputFrequency, 10));
        page.Gauge("kelvora_ups_battery_voltage_volts", "Battery voltage.",
                   Decimal(s.batteryVoltage, 100));
        page.Gauge("kelvora_ups_battery_charge_percent", "Battery charge.",
                   Decimal(s.batteryCapacity, 1));
        page.Gauge("kelvora_ups_load_percent", "Output load as a share of the UPS's capacity.",
                   Decimal(s.load, 10));
        page.Gauge("kelvora_ups_temperature_celsius", "Temperature inside the UPS.",
                   Decimal(s.temperature, 10));
    }

    // The flags of the NUT variable ups.status, every one always, so that a query for one never
    // finds nothing.
    static constexpr std::array<std::string_view, 9> kFlags = {
        "OL", "OB", "LB", "CAL", "BOOST", "TRIM", "BYPASS", "OFF", "FSD"};
    const std::string words = " " + StatusWords(ups) + " ";
    page.Family("kelvora_ups_status", "gauge",
                "The UPS status flags as in NUT's ups.status: 1 when the flag is set.");
    for (const auto flag : kFlags) {
        const bool set = words.find(" " + std::string(flag) + " ") != std::string::npos;
        page.Sample("kelvora_ups_status", "flag=\"" + std::string(flag) + "\"", set ? "1" : "0");
    }
    page.Gauge("kelvora_ups_shutdown_countdown_seconds",
               "Seconds left to the shutdown while one counts down, else 0.",
               std::to_string(ups.countdownSeconds));
    const std::string manufacturer = LabelValue(ups.basic.company);
    const std::string model = LabelValue(ups.basic.model);
    const std::string firmware = LabelValue(ups.basic.version);
    if (!manufacturer.empty() || !model.empty() || !firmware.empty()) {
        page.Family("kelvora_ups_info", "gauge", "The UPS's identification; always 1.");
        page.Sample("kelvora_ups_info",
                    "manufacturer=\"" + manufacturer + "\",model=\"" + model + "\",firmware=\"" +
                        firmware + "\"",
                    "1");
    }

    page.Family("kelvora_events_total", "counter",
                "Events the agent told about since it started, by kind.");
    for (std::size_t k = 0; k < kEventKinds; ++k) {
        page.Sample("kelvora_events_total",
                    "event=\"" + std::string(EventName(static_cast<EventKind>(k))) + "\"",
                    std::to_string(ups.events[k]));
    }
    page.Gauge("kelvora_agent_start_time_seconds",
               "When the agent started, in seconds since the Unix epoch.",
               std::to_string(ups.startedAt));
    page.Gauge("kelvora_agent_uptime_seconds", "How long the agent has been running.",
               std::to_string(ups.startedAt > 0 && now > ups.startedAt ? now - ups.startedAt : 0));
    return page.Take();
}

}  // namespace torvane::watch
