#include "sec_dialect.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace upssim {
namespace {

constexpr std::string_view kAck = "^1";
constexpr std::string_view kNak = "^0";
constexpr std::size_t kMaxText = 40;  // identity texts; the rest of a long name is cut

constexpr double kGeneralTestSeconds = 60.0;
constexpr double kQuickTestSeconds = 10.0;
constexpr long kMaxDelaySeconds = 99999;

// A reading as a whole number of `unit`s, short of the seven characters a client reads.
long scaled(double value, double unit) {
    if (!std::isfinite(value)) return 0;
    return std::lround(std::clamp(value / unit, -999999.0, 9999999.0));
}
std::string tenths(double value) {
    return std::to_string(scaled(value, 0.1));
}
std::string whole(double value) {
    return std::to_string(scaled(value, 1.0));
}
std::string flag(bool on) {
    return on ? "1" : "0";
}
// Hundredths lose nothing from 10 V up; below that a client takes any number under 1000 as
// tenths, so small (per-cell) voltages go out in tenths.
std::string battery_volts(double volts) {
    return scaled(volts, 0.01) >= 1000 ? std::to_string(scaled(volts, 0.01)) : tenths(volts);
}

std::string fields(std::initializer_list<std::string> values) {
    std::string out;
    for (const std::string& v : values) {
        if (!out.empty()) out += ',';
        out += v;
    }
    return out;
}

// 0 normal, 1 on battery, 2 bypass, 3 reducing (buck), 4 boosting, 7 output off.
char output_source(const UpsState& ups) {
    if (!ups.output_on()) return '7';
    if (ups.utility_failed()) return '1';
    if (ups.bits()[kBoost]) return ups.readings.input < ups.readings.output ? '4' : '3';
    return '0';
}

// > [^P003ST1]  battery
// < [^D0230,0,0,0,0,1000,270,0,25]
//    0    5    1         2
//    ^Dnnn  ,c,.,.,.,capc,batt,.,tt   field 1 condition (0 good, 1 low, 2 depleted),
//                                     5 capacity (tenths of a percent), 6 battery volts
//                                     (tenths below 1000, else hundredths), 8 degrees
std::string battery(const UpsState& ups) {
    const StatusBits b = ups.bits();
    const char* condition = b[kUpsFailed] ? "2" : b[kBatteryLow] ? "1" : "0";
    const Readings& r = ups.readings;
    return fields({"0", condition, "0", "0", "0", tenths(r.capacity), battery_volts(r.battery), "0",
                   whole(r.temperature)});
}

// > [^P003ST2]  input
// < [^D0120,1,500,2300]               field 2 frequency, 3 volts (both tenths; 0 V on battery)
std::string input(const UpsState& ups) {
    const Readings& r = ups.readings;
    return fields({"0", "1", tenths(r.frequency), tenths(ups.utility_failed() ? 0.0 : r.input)});
}

// > [^P003ST3]  output
// < [^D0160,500,1,2300,210]
//    0    5                           column 5 the source (see output_source), field 3 volts,
//                                     4 load (tenths of a percent)
std::string output(const UpsState& ups) {
    const Readings& r = ups.readings;
    return fields({std::string(1, output_source(ups)), tenths(r.frequency), "1",
                   tenths(ups.output_on() ? r.output : 0.0), tenths(static_cast<double>(r.load))});
}

// > [^P003ST5]  alarms
// < [^D0150,0,0,0,0,0,0,0]            field 0 UPS failed, 1 on battery, 2 battery low,
//                                     6 shutdown pending, 7 test running
std::string alarms(const UpsState& ups) {
    const StatusBits b = ups.bits();
    return fields({flag(b[kUpsFailed]), flag(b[kUtilityFail]), flag(b[kBatteryLow]), "0", "0", "0",
                   flag(b[kShutdown]), flag(b[kTest])});
}

// > [^P003STR]  test result
// < [^D0010]                          column 5: 2 while a test runs, else 0
std::string test_result(const UpsState& ups) {
    return ups.bits()[kTest] ? "2" : "0";
}

// > [^P003NOM]  nominal values
// < [^D026230,50,230,50,1000,800,5,2]
//    0    5   9                       columns 5-9 the fault voltage in whole volts (what Q1
//                                     shows as such), field 7 the audible alarm (2 enabled,
//                                     1 disabled)
std::string nominal(const UpsState& ups) {
    const double fault = std::clamp(ups.readings.fault, 0.0, 99999.0);
    return fields({whole(fault), whole(ups.rating.frequency), whole(ups.rating.voltage),
                   whole(ups.rating.frequency), "1000", "800", "5",
                   ups.bits()[kBeeper] ? "2" : "1"});
}

// > [^P003MAN]  < [^D007Stavlen]      manufacturer, model and version as plain text
std::string manufacturer(const UpsState& ups) {
    return ups.identity.company.substr(0, kMaxText);
}
std::string model(const UpsState& ups) {
    return ups.identity.model.substr(0, kMaxText);
}
std::string version(const UpsState& ups) {
    return ups.identity.version.substr(0, kMaxText);
}

struct SecQuery {
    std::string_view name;
    std::string (*fields)(const UpsState& ups);
};

constexpr std::array kQueries{
    SecQuery{.name = "ST1", .fields = battery},      SecQuery{.name = "ST2", .fields = input},
    SecQuery{.name = "ST3", .fields = output},       SecQuery{.name = "ST5", .fields = alarms},
    SecQuery{.name = "STR", .fields = test_result},  SecQuery{.name = "NOM", .fields = nominal},
    SecQuery{.name = "MAN", .fields = manufacturer}, SecQuery{.name = "MOD", .fields = model},
    SecQuery{.name = "VER", .fields = version},
};

bool parse_long(std::string_view text, long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

struct Context {
    UpsState& ups;
    TimePoint now;
    bool& auto_restart;
    int& shutdown_type;
};

// > [^S004ATR1]  auto restart on (0 off)                        < [^1]
bool set_auto_restart(std::string_view value, Context& c) {
    if (value != "0" && value != "1") return false;
    c.auto_restart = value == "1";
    return true;
}

// > [^S004SDA1]  shut-down type 0..9, kept and shown, no other effect  < [^1]
bool set_shutdown_type(std::string_view value, Context& c) {
    long type = 0;
    if (!parse_long(value, type) || type < 0 || type > 9) return false;
    c.shutdown_type = static_cast<int>(type);
    return true;
}

// > [^S006PSD120]  output off after 120 UPS seconds; -1 cancels   < [^1]
// A restart armed by RWD just before stays with the re-timed shutdown.
bool shutdown_after(std::string_view value, Context& c) {
    long delay = 0;
    if (!parse_long(value, delay) || delay < -1 || delay > kMaxDelaySeconds) return false;
    if (delay == -1) {
        c.ups.cancel_shutdown(c.now);
    } else {
        c.ups.schedule_shutdown(static_cast<double>(delay), c.ups.pending_restart(), c.now);
    }
    return true;
}

// > [^S006RWD120]  off after 120 UPS seconds, on again 120 seconds later (at least 1, and
//                  only once the utility is present); -1 cancels    < [^1]
bool reboot_with_duration(std::string_view value, Context& c) {
    long delay = 0;
    if (!parse_long(value, delay) || delay < -1 || delay > kMaxDelaySeconds) return false;
    if (delay == -1) {
        c.ups.cancel_shutdown(c.now);
    } else {
        c.ups.schedule_shutdown(static_cast<double>(delay), std::max(1.0, 1.0 * delay), c.now);
    }
    return true;
}

// > [^S004TST1]  general test (60 UPS seconds)   TST2 quick test (10 s)
// > [^S004TST3]  until the battery is low        [^S005TST-1] cancel   < [^1]
bool test(std::string_view value, Context& c) {
    if (value == "1") {
        c.ups.start_test(kGeneralTestSeconds, c.now);
    } else if (value == "2") {
        c.ups.start_test(kQuickTestSeconds, c.now);
    } else if (value == "3") {
        c.ups.start_test_until_battery_low();
    } else if (value == "-1") {
        c.ups.cancel_test();
    } else {
        return false;
    }
    return true;
}

// > [^S011NOM,,,,,,,2]  the audible alarm: field 7, 2 or 4 on, 1 or 3 off   < [^1]
//    0    5
// Empty fields leave their value alone; we take no other nominal value.
bool set_nominal(std::string_view value, Context& c) {
    std::size_t index = 0;
    std::string_view alarm;
    while (true) {
        const std::size_t comma = value.find(',');
        const std::string_view field = value.substr(0, comma);
        if (index == 7) {
            alarm = field;
        } else if (!field.empty()) {
            return false;
        }
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
        ++index;
    }
    if (alarm.empty()) return true;
    if (alarm != "1" && alarm != "2" && alarm != "3" && alarm != "4") return false;
    c.ups.set_beeper(alarm == "2" || alarm == "4");
    return true;
}

struct SecSetting {
    std::string_view name;
    bool (*apply)(std::string_view value, Context& c);
};

constexpr std::array kSettings{
    SecSetting{.name = "ATR", .apply = set_auto_restart},
    SecSetting{.name = "SDA", .apply = set_shutdown_type},
    SecSetting{.name = "PSD", .apply = shutdown_after},
    SecSetting{.name = "RWD", .apply = reboot_with_duration},
    SecSetting{.name = "TST", .apply = test},
    SecSetting{.name = "NOM", .apply = set_nominal},
};

Outcome answer(std::string reply) {
    return {Outcome::Kind::query, std::move(reply)};
}

}  // namespace

std::string sec_data(std::string_view data) {
    char length[8];
    std::snprintf(length, sizeof length, "%03zu", std::min<std::size_t>(data.size(), 999));
    return "^D" + std::string(length) + std::string(data.substr(0, 999));
}

Outcome SecDialect::handle(std::string_view message, UpsState& ups, TimePoint now) {
    ups.tick(now);
    constexpr std::size_t kHeader = 5;
    if (message.size() < kHeader + 3) return answer(std::string(kNak));
    const std::string_view body = message.substr(kHeader);
    const std::string_view name = body.substr(0, 3);
    if (message[1] == 'P') {
        if (body.size() != 3) return answer(std::string(kNak));
        for (const SecQuery& q : kQueries) {
            if (q.name == name) return answer(sec_data(q.fields(ups)));
        }
        return answer(std::string(kNak));
    }
    Context context{ups, now, auto_restart_, shutdown_type_};
    for (const SecSetting& s : kSettings) {
        if (s.name == name)
            return answer(std::string(s.apply(body.substr(3), context) ? kAck : kNak));
    }
    return answer(std::string(kNak));
}

}  // namespace upssim
