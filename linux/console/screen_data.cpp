#include "screen_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "q1_protocol.h"
#include "schedule_time.h"
#include "screen.h"
#include "screen_layout.h"
#include "text_util.h"

namespace {

// Splits at any of `separators`; runs of separators count as one. A NUL ends the text, as it
// would end the line the daemon meant to write.
std::vector<std::string_view> Tokens(std::string_view line, std::string_view separators,
                                     std::size_t max_tokens) {
    line = line.substr(0, line.find('\0'));
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (out.size() < max_tokens) {
        pos = line.find_first_not_of(separators, pos);
        if (pos == std::string_view::npos) break;
        std::size_t end = line.find_first_of(separators, pos);
        if (end == std::string_view::npos) end = line.size();
        out.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

// A reading: digits, a point, a sign. Nothing else belongs in a numeric token.
bool IsReading(std::string_view token) {
    return !token.empty() && token.find_first_not_of("0123456789.-") == std::string_view::npos;
}

template <std::size_t N>
void TakeReading(FixedText<N>& field, const std::vector<std::string_view>& tokens,
                 std::size_t index, std::size_t width) {
    if (index >= tokens.size()) return;
    std::string_view token = tokens[index];
    if ((width == 0 || token.size() == width) && IsReading(token)) field = token;
}

std::string Format(const char* fmt, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

std::string DayTime(int day, int hour, int minute) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s %02d:%02d", std::string(WeekDay(day)).c_str(), hour, minute);
    return buf;
}

}  // namespace

void InitScreenData(ScreenData& data) {
    data.ups_type = kNA;
    data.rating_voltage = kNA;
    data.rating_current = kNA;
    data.rating_frequency = kNA;
    data.input_ac = kNA;
    data.battery_state = kNA;
    data.ups_fault = kNA;
    data.boost_buck = kNA;
    data.temperature = kNA;
    data.self_test = kNA;
    data.input_voltage = kNA;
    data.output_voltage = kNA;
    data.load = kNA;
    data.battery_voltage = kNA;
    data.input_frequency = kNA;
    data.fault_voltage = kNA;
    if (!ChkFloat(data.battery_rating)) data.battery_rating = kNA;
    data.model = "";
}

// The status reply (its layout is in q1_protocol.h) split on its separators: seven readings
// and the eight status bits.
void GetFromQ1(ScreenData& data, std::string_view line) {
    auto tokens = Tokens(line, q1::kStatusSeparators, 8);
    TakeReading(data.input_voltage, tokens, 0, 5);
    TakeReading(data.fault_voltage, tokens, 1, 0);
    TakeReading(data.output_voltage, tokens, 2, 5);
    if (tokens.size() > 3 && tokens[3].size() == 3 && IsReading(tokens[3])) {
        data.load = RpLeadingZeros(tokens[3]);
    }
    TakeReading(data.input_frequency, tokens, 4, 4);
    TakeReading(data.battery_voltage, tokens, 5, 4);
    TakeReading(data.temperature, tokens, 6, 4);
    if (tokens.size() < 8) return;
    std::string_view bits = tokens[7];
    if (bits.size() != q1::kBitCount || bits.find_first_not_of("01") != std::string_view::npos) {
        return;
    }
    auto set = [&](std::size_t position) { return bits[position - q1::kBitsAt] == '1'; };
    data.input_ac = set(q1::kUtilityFailBit) ? "AC FAILS" : "Normal  ";
    data.battery_state = set(q1::kBatteryLowBit) ? "BAT. LOW" : "Normal  ";
    data.boost_buck = set(q1::kBoostBuckBit) ? "ON " : "OFF";
    data.ups_fault = set(q1::kUpsFailedBit) ? "FAILED" : "Normal";
    data.ups_type = set(q1::kStandbyBit) ? "Standby" : "On Line";
    data.self_test = set(q1::kTestBit) ? "In Progress" : "Stop       ";
}

//  > [I\r]
//  < [#Stavlen         SIM-1000   1.0       \r]
//     the 37 characters after "#" are the model text
void GetFromI(ScreenData& data, std::string_view line) {
    line = line.substr(0, line.find('\0'));
    if (line.empty()) return;
    data.model = Printable(line.substr(1, 37));
}

//  > [F\r]
//  < [#230.0 004 24.00 50.0\r]
//     volt  amp batt  Hz
void GetFromF(ScreenData& data, std::string_view line) {
    auto tokens = Tokens(line, q1::kRatingSeparators, 4);
    TakeReading(data.rating_voltage, tokens, 0, 5);
    if (tokens.size() > 1 && tokens[1].size() == 3 && IsReading(tokens[1])) {
        data.rating_current = RpLeadingZeros(tokens[1]);
    }
    TakeReading(data.battery_rating, tokens, 2, 5);
    TakeReading(data.rating_frequency, tokens, 3, 4);
}

FixedText<9> AcfailDelayText(int minutes) {
    char buf[16];
    if (minutes >= -9 && minutes <= 60) {
        std::snprintf(buf, sizeof buf, "%2d.0", minutes);
    } else if (minutes >= 61 && minutes <= 999) {
        std::snprintf(buf, sizeof buf, " %2d", minutes);
    } else if (minutes >= 1000 && minutes <= 9999) {
        std::snprintf(buf, sizeof buf, "%2d", minutes);
    } else {
        return FixedText<9>("****");
    }
    return FixedText<9>(buf);
}

void GetFromConfigAt(ScreenData& data, const UpsConfig& config, const WeekSchedule& schedule,
                     int64_t now, int& shutdown_flag) {
    if (config.battery_rating > 0) data.battery_rating = Format("%4.1f", config.battery_rating);
    std::string_view comport(config.comport, strnlen(config.comport, sizeof config.comport));
    data.comport = Printable(comport.substr(0, 15));
    if (config.countdown_on == 1 || config.countdown_on == 0) {
        data.countdown = config.countdown_on == 1 ? "ON " : "OFF";
    }
    if (config.schedule_on == 1 || config.schedule_on == 0) {
        data.scheduling = config.schedule_on == 1 ? "ON " : "OFF";
    }
    data.acfail_delay = AcfailDelayText(config.acfail_delay);
    data.turnoff_delay = Format("%4.1f", config.turnoff_delay);
    data.shutdown_pending = "NO ";
    data.next_shutdown = kNoTime;
    data.next_restart = kNoTime;

    int64_t next_shutdown = -1;
    int32_t restart_minutes = -1, shutdown_day = -1, restart_day = -1;
    CalcSchdlTimeAt(now, &schedule, &next_shutdown, &restart_minutes, &shutdown_day, &restart_day,
                    config.turnoff_delay);
    if (shutdown_day < 0 || shutdown_day > 6 || config.schedule_on != 1) return;
    const ScheduleDay& off = schedule.day[static_cast<std::size_t>(shutdown_day)];
    data.next_shutdown = DayTime(shutdown_day, off.shutdown_hour, off.shutdown_minute);
    if (restart_day >= 0 && restart_day <= 6 && config.turnoff_ups == 1) {
        const ScheduleDay& on = schedule.day[static_cast<std::size_t>(restart_day)];
        data.next_restart = DayTime(restart_day, on.restart_hour, on.restart_minute);
    }
    if (next_shutdown - now < static_cast<int64_t>(config.acfail_delay) * 60) {
        data.shutdown_pending = "YES";
        shutdown_flag = 1;
    }
}

void GetFromConfig(ScreenData& data, const UpsConfig& config, const WeekSchedule& schedule,
                   int& shutdown_flag) {
    GetFromConfigAt(data, config, schedule, static_cast<int64_t>(std::time(nullptr)),
                    shutdown_flag);
}

float BatteryLevel(ScreenData& data) {
    if (!ChkFloat(data.battery_voltage)) return -1;
    if (data.ups_type == "Standby") {
        if (!ChkFloat(data.battery_rating)) return -1;
    } else {
        data.battery_rating = "2.0";
    }
    float rated = std::strtof(std::string(data.battery_rating.view()).c_str(), nullptr);
    float v = std::strtof(std::string(data.battery_voltage.view()).c_str(), nullptr);
    float low = rated / 24 * 21;
    float high = rated / 24 * 26.67f;
    // A rating of zero would make the range empty and the level a division by zero.
    if (!(high > low)) return -1;
    v = std::clamp(v, low, high);
    return (v - low) / (high - low) * 100;
}

int VoltageBar(std::string_view volts) {
    if (!ChkFloat(volts)) return 0;
    int v = WholePart(volts);
    int n = v > 134 ? (v - 180) / 2 : (v - 70) / 2;
    return BarCells(n, layout::kBarCells);
}

int LoadBar(std::string_view load) {
    std::string text(load);
    RmLeadingSpace(text);
    if (!ChkInt(text)) return 0;
    return BarCells(CutToRange(LeadingInt(text), -4, 125) / 4, layout::kBarCells);
}

int BatteryBar(float level) {
    if (!(level > 0)) return 0;
    int whole = static_cast<int>(std::min(level, 1000.0f));
    return BarCells(CutToRange(whole, -4, 125) / 4, layout::kBarCells);
}

int FrequencyBar(std::string_view hertz) {
    if (!ChkFloat(hertz)) return 0;
    return BarCells(CutToRange(WholePart(hertz), -4, 105) / 4, layout::kBarCells);
}
