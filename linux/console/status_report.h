// What `kelvora status --once` and `--json` print: one reading of the UPS with where it came
// from, kept apart from how it is printed so that both forms say exactly the same thing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "snmp_draw.h"

// A number is kept as the text it is printed with (a JSON number: "230.4", "23", "-5.0"), so
// that a reading keeps the digits the UPS sent and the two forms cannot disagree.
using Number = std::optional<std::string>;

struct StatusReport {
    // How the daemon reaches the UPS: "serial" or "snmp"; empty when no configuration could be
    // read (the serial files are read then, as the status screen does).
    std::string source;
    bool daemon_running = false;
    std::optional<long> daemon_pid;     // only the super-user can learn it
    bool reading = false;               // a reading with the status bits was found
    bool fresh = false;                 // ... and it is recent enough to stand for now
    std::optional<int64_t> updated_at;  // calendar seconds of the reading
    std::optional<int64_t> age_seconds;

    // The UPS itself; all unknown (null) unless `connected()`.
    std::optional<std::string> status;  // "OL", "OB LB", ...
    std::optional<bool> on_battery, battery_low, self_test, boost, trim, ups_failed;
    std::optional<std::string> ups_type;  // "online" or "standby"
    Number battery_charge_percent, battery_voltage_volts, input_voltage_volts,
        input_fault_voltage_volts, input_frequency_hertz, output_voltage_volts, load_percent,
        temperature_celsius;
    std::optional<std::string> manufacturer, model, firmware;  // raw bytes: printed cleaned
    Number rating_voltage_volts, rating_current_amperes, rating_battery_voltage_volts,
        rating_frequency_hertz;

    // The daemon runs and watches a UPS that answered a moment ago.
    bool connected() const { return daemon_running && reading && fresh; }
};

// A reading's text as a JSON number ("023" -> "23", "12." -> "12", ".5" -> "0.5"), or nothing
// when it is not a plain decimal number.
Number JsonNumber(std::string_view text);

// Fills the UPS part of `report` from the status, model and rating replies as the daemon stores
// them (each already cut to what the console reads). `battery_rating` is the configured rating
// in volts (0 when none): a standby UPS's charge is estimated from it, as the status screen
// does. `reading` is set when the status bits could be read.
void ReportFromReplies(StatusReport& report, std::string_view status, std::string_view model,
                       std::string_view rating, float battery_rating);

// The same from a UPS's SNMP agent; `reading` is set when the agent gave the line voltage.
void ReportFromAgent(StatusReport& report, const SnmpRead& read);

// Makes every value of the UPS unknown: what a report says when it is not connected.
void ForgetUps(StatusReport& report);

// The status words: "OB" or "OL", then "LB", "CAL" (self-test), "BOOST" or "TRIM", "ALARM"
// (the UPS reports a fault).
std::string StatusWords(const StatusReport& report);
