// The status screen's record: fixed-width text fields filled from the status files and the
// configuration, and the arithmetic that turns them into what the meters show.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "config.h"

// A NUL-terminated field of N bytes; longer text is cut, so no reading can outgrow it.
template <std::size_t N>
class FixedText {
  public:
    FixedText() = default;
    FixedText(std::string_view text) { Set(text); }  // NOLINT: a field reads like its text
    void Set(std::string_view text) {
        len_ = text.size() < N ? text.size() : N - 1;
        std::memcpy(buf_.data(), text.data(), len_);
        buf_[len_] = '\0';
    }
    FixedText& operator=(std::string_view text) {
        Set(text);
        return *this;
    }
    std::string_view view() const { return {buf_.data(), len_}; }
    operator std::string_view() const { return view(); }  // NOLINT
    bool operator==(std::string_view text) const { return view() == text; }

  private:
    std::array<char, N> buf_{};
    std::size_t len_ = 0;
};

inline constexpr std::string_view kNA = "N/A";
inline constexpr std::string_view kNoTime = "---  --:--";

struct ScreenData {
    FixedText<8> ups_type;
    FixedText<6> rating_voltage;
    FixedText<4> rating_current;
    FixedText<6> battery_rating;
    FixedText<5> rating_frequency;
    FixedText<30> comport;
    FixedText<9> input_ac;
    FixedText<9> battery_state;
    FixedText<7> ups_fault;
    FixedText<4> boost_buck;
    FixedText<5> temperature;
    FixedText<12> self_test;
    FixedText<4> countdown;
    FixedText<4> scheduling;
    FixedText<11> next_shutdown;
    FixedText<11> next_restart;
    FixedText<9> acfail_delay;
    FixedText<5> turnoff_delay;
    FixedText<6> input_voltage;
    FixedText<6> output_voltage;
    FixedText<4> load;
    FixedText<5> battery_voltage;
    FixedText<5> input_frequency;
    FixedText<38> model;
    FixedText<5> fault_voltage;
    FixedText<4> shutdown_pending;
};

// Every reading becomes "N/A" and the model text empty; what comes from the configuration stays.
void InitScreenData(ScreenData& data);

// The three replies as the daemon stores them, carriage return already dropped. A token is
// taken only when it has its width and holds only what such a reading can hold; anything else
// (a torn write, garbage, binary bytes) leaves that field at "N/A".
void GetFromQ1(ScreenData& data, std::string_view line);
void GetFromI(ScreenData& data, std::string_view line);
void GetFromF(ScreenData& data, std::string_view line);

// The configuration-derived fields, with the schedule seen from `now`. Sets `shutdown_flag` to 1
// when the next scheduled shutdown is closer than the AC-fail delay.
void GetFromConfigAt(ScreenData& data, const UpsConfig& config, const WeekSchedule& schedule,
                     int64_t now, int& shutdown_flag);
void GetFromConfig(ScreenData& data, const UpsConfig& config, const WeekSchedule& schedule,
                   int& shutdown_flag);

// How the AC-fail delay is shown in its four columns: " 5.0", "60.0", " 120", "1440". A value
// that cannot be shown in four columns (only a hand-edited file holds one) shows "****".
FixedText<9> AcfailDelayText(int minutes);

// The battery level in percent from the record's battery voltage and rating, or -1 when there
// is none. A UPS that is not of the standby type reports a cell voltage, so its rating becomes
// "2.0" in the record.
float BatteryLevel(ScreenData& data);

// Bar lengths in cells (0 for no bar), already cut at the edge of the meter.
int VoltageBar(std::string_view volts);
int LoadBar(std::string_view load);
int BatteryBar(float level);
int FrequencyBar(std::string_view hertz);
