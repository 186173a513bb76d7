#include "status_draw.h"

#include <cstdio>
#include <string>

#include "screen.h"
#include "screen_layout.h"
#include "text_util.h"

namespace {

using layout::sw1;
using layout::sw2;

const layout::Item& Left(layout::Sw1 i) {
    return sw1[static_cast<std::size_t>(i)];
}

void Value(layout::Sw1 i, std::string_view text, bool standout = false) {
    PutText(Left(i).row, Left(i).value_col, text, standout);
}

// A value that may be "N/A": the blanks after it wipe what a longer value left behind.
void ValueOrNA(layout::Sw1 i, std::string_view text, int wipe, bool alarm = false,
               bool flash = false) {
    Value(i, text, alarm && flash);
    if (text == kNA) PutBlanks(Left(i).row, Left(i).value_col + 3, wipe);
}

void Bar(layout::Meter meter, int cells) {
    if (cells <= 0) return;
    static const std::string kBlanks(layout::kBarCells, ' ');
    PutText(layout::ScaleRow(meter), layout::kBarCol,
            std::string_view(kBlanks).substr(0, static_cast<std::size_t>(cells)), true);
}

// A voltage meter: value, or "N/A" with the unit wiped; figures relabelled for a 230 V line.
void VoltageMeter(layout::Meter meter, std::string_view volts) {
    const layout::Item& label = layout::MeterLabel(meter);
    PutText(label.row, label.value_col, RpLeadingZeros(volts));
    if (volts == kNA) PutBlanks(label.row, label.value_col + 3, 7);
    if (ChkFloat(volts) && WholePart(volts) > 135) {
        PutText(layout::FiguresRow(meter), label.label_col, layout::kHighVoltFigures);
    }
}

}  // namespace

void DrawComportLeft(const ScreenData& data, int shutdown_flag, bool daemon_present,
                     DrawState& state) {
    state.flash = state.flash ? 0 : 1;
    bool flash = state.flash == 1;
    for (const layout::Item& item : sw1) PutText(item.row, item.label_col, item.label);

    ValueOrNA(layout::kUpsType, data.ups_type, 4);
    ValueOrNA(layout::kRatingVoltage, data.rating_voltage, 7);
    ValueOrNA(layout::kRatingCurrent, data.rating_current, 6);

    const layout::Item& freq = Left(layout::kRatingFrequency);
    PutBlanks(freq.row, freq.value_col, 8);
    if (data.rating_frequency == kNA) {
        PutText(freq.row, freq.value_col, kNA);
    } else {
        PutText(freq.row, freq.value_col + 1, data.rating_frequency);
        PutText(freq.row, freq.value_col + 6, "Hz");
    }

    const layout::Item& port = Left(layout::kComport);
    PutBlanks(port.row, port.value_col, 13);
    PutText(port.row, port.value_col, data.comport);

    ValueOrNA(layout::kInputAc, data.input_ac, 5, data.input_ac == "AC FAILS", flash);
    ValueOrNA(layout::kBatteryState, data.battery_state, 5, data.battery_state == "BAT. LOW",
              flash);
    ValueOrNA(layout::kUpsFault, data.ups_fault, 3, data.ups_fault == "FAILED", flash);
    Value(layout::kBoostBuck, data.boost_buck, data.boost_buck == "ON " && flash);
    ValueOrNA(layout::kTemperature, data.temperature, 3);
    ValueOrNA(layout::kSelfTest, data.self_test, 8, data.self_test == "In Progress", flash);

    PutBlanks(layout::kBanner.row, layout::kBanner.col, 32);
    bool alarm =
        data.input_ac == "AC FAILS" || data.battery_state == "BAT. LOW" || shutdown_flag == 1;
    if (daemon_present && alarm) {
        PutText(layout::kBanner.row, layout::kBanner.col, layout::kBannerText, flash);
    }

    Value(layout::kCountdown, data.countdown);
    Value(layout::kScheduling, data.scheduling);
    Value(layout::kNextShutdown, data.next_shutdown);
    Value(layout::kNextRestart, data.next_restart);
    Value(layout::kAcfailDelay, data.acfail_delay);
    Value(layout::kTurnoffDelay, data.turnoff_delay);
}

void DrawComportRight(ScreenData& data) {
    for (const layout::Item& item : sw2) PutText(item.row, item.label_col, item.label);

    VoltageMeter(layout::kInputVoltageMeter, data.input_voltage);
    VoltageMeter(layout::kOutputVoltageMeter, data.output_voltage);

    const layout::Item& load = layout::MeterLabel(layout::kLoadMeter);
    PutText(load.row, load.value_col, data.load);
    if (data.load == kNA) PutBlanks(load.row, load.value_col + 3, 1);

    const layout::Item& battery = layout::MeterLabel(layout::kBatteryMeter);
    float level = BatteryLevel(data);
    if (level >= 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%3.0f", static_cast<double>(level));
        PutText(battery.row, battery.value_col, text);
    } else {
        PutText(battery.row, battery.value_col, kNA);
        PutBlanks(battery.row, battery.value_col + 3, 1);
    }

    const layout::Item& hertz = layout::MeterLabel(layout::kFrequencyMeter);
    PutText(hertz.row, hertz.value_col, RpLeadingZeros(data.input_frequency));
    if (data.input_frequency == kNA) PutBlanks(hertz.row, hertz.value_col + 3, 4);

    DrawLineBars(data, level);
}

void DrawLineBars(const ScreenData& data, float battery_level) {
    Bar(layout::kInputVoltageMeter, VoltageBar(data.input_voltage));
    Bar(layout::kOutputVoltageMeter, VoltageBar(data.output_voltage));
    Bar(layout::kLoadMeter, LoadBar(data.load));
    Bar(layout::kBatteryMeter, BatteryBar(battery_level));
    Bar(layout::kFrequencyMeter, FrequencyBar(data.input_frequency));
}

void DrawScreen(ScreenData& data, int shutdown_flag, bool daemon_present, DrawState& state) {
    BasicScreen(2);
    DrawComportLeft(data, shutdown_flag, daemon_present, state);
    DrawComportRight(data);
    PutText(layout::st_model.row, layout::st_model.col, data.model);
    PutRightAligned(layout::sb_label.row, layout::st_clock_right, layout::kRedrawQuitHint);
}
