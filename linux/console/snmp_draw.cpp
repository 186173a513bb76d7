#include "snmp_draw.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "screen.h"
#include "snmp_access.h"
#include "snmp_layout.h"
#include "status_draw.h"
#include "text_util.h"

namespace {

using layout::kSnmpNoValue;
using layout::kSnmpValueCol;

// What the agent sends is text of its choosing: shown only as printable characters, and cut
// where its pane ends so that it can never run over a border or into the other pane.
void PaneText(int row, int col, int end, std::string_view text, bool standout = false) {
    if (col >= end) return;
    std::string shown = Printable(text.substr(0, static_cast<std::size_t>(end - col)));
    PutText(row, col, shown, standout);
}

// A left-pane value fills its field up to the border, so a shorter reading never shows the
// tail of a longer one before it. Only the text itself blinks.
void LeftValue(int row, std::string_view text, bool standout = false) {
    constexpr int kWidth = layout::kLeftPaneEnd - kSnmpValueCol;
    text = text.substr(0, std::min<std::size_t>(text.size(), kWidth));
    PaneText(row, kSnmpValueCol, layout::kLeftPaneEnd, text, standout);
    PutBlanks(row, kSnmpValueCol + static_cast<int>(text.size()),
              kWidth - static_cast<int>(text.size()));
}

std::string Format(const char* format, int value) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

// Readings in tenths (volts, degrees, hertz) with one decimal.
std::string Tenths(const char* format, int value) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, value / 10.0);
    return buf;
}

// A left-pane row fed by one object: the text for a value, or nothing to leave the row as it
// is. A missing object shows "N/A".
struct ValueRow {
    int row;
    snmp::Obj object;
    std::optional<std::string> (*text)(int value);
};

std::optional<std::string> TemperatureText(int v) {
    if (v <= 0) return std::nullopt;
    return Tenths("%3.1f C ", v);
}

std::optional<std::string> SelfTestText(int v) {
    return std::string(v == 4 ? "In Progress" : "Stop       ");
}

std::optional<std::string> TimeOnBatteryText(int v) {
    if (v < 0) return std::nullopt;
    return Format("%6d Sec.", v);
}

std::optional<std::string> VoltsText(int v) {
    return Tenths("%3.1f Volts", v);
}

std::optional<std::string> FailureCauseText(int v) {
    static constexpr std::array<std::string_view, 9> kCauses{"",
                                                             "no transfer ",
                                                             "high voltage",
                                                             "brownout    ",
                                                             "blackout    ",
                                                             "sag         ",
                                                             "sag         ",
                                                             "spike       ",
                                                             "spike       "};
    if (v < 1 || v > 8) return std::nullopt;
    return std::string(kCauses[static_cast<std::size_t>(v)]);
}

constexpr ValueRow kTimeOnBattery{layout::kSnmpTimeOnBatteryRow, snmp::kTimeOnBattery,
                                  TimeOnBatteryText};

// The rows read only every 30th pass, besides the boost/buck row.
constexpr std::array<ValueRow, 8> kSlowRows{{
    {layout::kSnmpTemperatureRow, snmp::kTemperature, TemperatureText},
    {layout::kSnmpSelfTestRow, snmp::kSelfTestState, SelfTestText},
    kTimeOnBattery,
    {layout::kSnmpBatteryVoltageRow, snmp::kBatteryVoltage, VoltsText},
    {layout::kSnmpRatingVoltageRow, snmp::kBatteryRatingVoltage, VoltsText},
    {layout::kSnmpLastSpikeRow, snmp::kLastSpike, VoltsText},
    {layout::kSnmpLastSagRow, snmp::kLastSag, VoltsText},
    {layout::kSnmpFailureCauseRow, snmp::kLastFailureCause, FailureCauseText},
}};

void DrawValueRow(const ValueRow& r, const SnmpRead& read) {
    std::optional<std::string> value = read(r.object);
    if (!value) {
        LeftValue(r.row, kSnmpNoValue);
        return;
    }
    if (std::optional<std::string> text = r.text(SnmpInt(*value))) LeftValue(r.row, *text);
}

// Output status 4 (boosting) or 6 (bucking) is "ON". Status 1 means the UPS does not know,
// which is no surprise during a self-test; a missing status writes nothing.
void DrawBoostBuck(const SnmpRead& read) {
    std::optional<std::string> status = read(snmp::kOutputStatus);
    int v = status ? SnmpInt(*status) : 0;
    if (v == 4 || v == 6) {
        LeftValue(layout::kSnmpBoostBuckRow, "ON ");
    } else if (v >= 2) {
        LeftValue(layout::kSnmpBoostBuckRow, "OFF");
    } else if (v == 1) {
        std::optional<std::string> test = read(snmp::kSelfTestState);
        if (!test || SnmpInt(*test) != 4) LeftValue(layout::kSnmpBoostBuckRow, kSnmpNoValue);
    }
}

void DrawSlowRows(const SnmpRead& read) {
    UPSname_model(read);
    DrawBoostBuck(read);
    for (const ValueRow& r : kSlowRows) DrawValueRow(r, read);
}

void PutLeftLabels() {
    for (std::size_t i = 0; i < layout::SNMP_LEFTTXT.size(); ++i) {
        PutText(layout::kSnmpLabelRow + static_cast<int>(i), layout::kSnmpLabelCol,
                layout::SNMP_LEFTTXT[i]);
    }
}

void PutRightTexts() {
    for (const layout::Item& item : layout::sw2) PutText(item.row, item.label_col, item.label);
}

void PutScheduleValues(const ScreenData& data) {
    PutText(layout::kSnmpNextShutdown.row, layout::kSnmpNextShutdown.col, data.next_shutdown);
    PutText(layout::kSnmpNextRestart.row, layout::kSnmpNextRestart.col, data.next_restart);
    PutText(layout::kSnmpAcfailDelay.row, layout::kSnmpAcfailDelay.col, data.acfail_delay);
    PutText(layout::kSnmpTurnoffDelay.row, layout::kSnmpTurnoffDelay.col, data.turnoff_delay);
}

void MeterValue(layout::Meter meter, std::string_view text) {
    const layout::Item& label = layout::MeterLabel(meter);
    PaneText(label.row, label.value_col, layout::kRightPaneEnd, text);
}

// A voltage meter; its text also goes into the record for the bar. Above 135 V the figures
// are those of a 230 V line.
void VoltageMeter(layout::Meter meter, int tenths, FixedText<6>& field) {
    std::string text = Tenths("%3.1f", tenths);
    MeterValue(meter, text);
    field = text;
    if (tenths / 10 > 135) {
        PutText(layout::FiguresRow(meter), layout::MeterLabel(meter).label_col,
                layout::kHighVoltFigures);
    }
}

}  // namespace

std::optional<std::string> AgentRead(snmp::Obj object) {
    std::string value;
    if (UPS_getvalue(value, snmp::Oid(object)) != 0) return std::nullopt;
    return value;
}

int SnmpInt(std::string_view text) {
    // strtoll saturates on overflow; the bound is the copy, so a long text costs no more.
    std::string head(text.substr(0, 64));
    long long v = std::strtoll(head.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

void CleanString(std::string& text) {
    std::size_t first = text.find('"');
    if (first == std::string::npos) return;
    std::size_t second = text.find('"', first + 1);
    if (second != std::string::npos) text.resize(second + 1);
}

void UPSname_model(const SnmpRead& read) {
    // A missing object shows as the mark the buffer was preset to.
    std::string model = read(snmp::kModel).value_or("***");
    std::string name = read(snmp::kName).value_or("***");
    CleanString(model);
    CleanString(name);
    // Padded to the end of the row, so a shorter name leaves nothing of a longer one.
    constexpr int kWidth = layout::kCols - layout::st_model.col;
    std::string text = name + model;
    text.resize(kWidth, ' ');
    PaneText(layout::st_model.row, layout::st_model.col, layout::kCols, text);
}

void DrawSnmpLeft(ScreenData& data, bool full_redraw, SnmpDrawState& state, const SnmpRead& read) {
    BasicScreen(2);
    state.flash = state.flash ? 0 : 1;
    bool blink = state.flash == 1;
    PutLeftLabels();

    std::optional<std::string> line = read(snmp::kLineVoltage);
    bool ac_fails = false;
    if (!line) {
        LeftValue(layout::kSnmpInputAcRow, kSnmpNoValue);
    } else if (int v = SnmpInt(*line); v >= 1) {
        LeftValue(layout::kSnmpInputAcRow, "Normal  ");
    } else if (v == 0) {
        ac_fails = true;
        LeftValue(layout::kSnmpInputAcRow, "AC FAILS", blink);
        DrawValueRow(kTimeOnBattery, read);
    }

    std::optional<std::string> battery = read(snmp::kBatteryStatus);
    int battery_status = battery ? SnmpInt(*battery) : 0;
    if (battery_status == 2) {
        LeftValue(layout::kSnmpBatteryRow, "Normal  ");
    } else if (battery_status == 3) {
        LeftValue(layout::kSnmpBatteryRow, "BAT. LOW", blink);
    } else if (battery_status == 1) {
        LeftValue(layout::kSnmpBatteryRow, kSnmpNoValue);
    }

    // A line voltage that could not be read is no utility failure: the daemon does not act on
    // it either, so the screen must not announce a shutdown for it.
    PutBlanks(layout::kSnmpBanner.row, layout::kSnmpBanner.col, 32);
    if (ac_fails || battery_status == 3 || data.shutdown_pending == "YES") {
        PutText(layout::kSnmpBanner.row, layout::kSnmpBanner.col, layout::kBannerText, blink);
    }

    PutScheduleValues(data);

    ++state.reps;
    bool due = state.reps > 29;
    if (due) state.reps = 0;
    if (due || full_redraw) DrawSlowRows(read);
}

void DrawSnmpRight(ScreenData& data, const SnmpRead& read) {
    PutRightTexts();
    data.input_voltage = kNA;
    data.output_voltage = kNA;
    data.load = kNA;
    data.input_frequency = kNA;

    if (std::optional<std::string> in = read(snmp::kLineVoltage)) {
        VoltageMeter(layout::kInputVoltageMeter, SnmpInt(*in), data.input_voltage);
    } else {
        MeterValue(layout::kInputVoltageMeter, kSnmpNoValue);
    }

    if (std::optional<std::string> out = read(snmp::kOutputVoltage)) {
        VoltageMeter(layout::kOutputVoltageMeter, SnmpInt(*out), data.output_voltage);
        // No output frequency means no output at all, whatever voltage the UPS reports. A
        // frequency that could not be read says nothing of the kind.
        std::optional<std::string> hertz = read(snmp::kOutputFrequency);
        if (hertz && SnmpInt(*hertz) == 0) {
            data.output_voltage = *hertz;
            MeterValue(layout::kOutputVoltageMeter, "0.0  ");
        }
    } else {
        MeterValue(layout::kOutputVoltageMeter, kSnmpNoValue);
    }

    if (std::optional<std::string> load = read(snmp::kOutputLoad)) {
        std::string text = Format("%3d", SnmpInt(*load));
        MeterValue(layout::kLoadMeter, text);
        data.load = text;
    } else {
        MeterValue(layout::kLoadMeter, kSnmpNoValue);
    }

    float level = 0;
    if (std::optional<std::string> capacity = read(snmp::kBatteryCapacity)) {
        int percent = SnmpInt(*capacity);
        MeterValue(layout::kBatteryMeter, Format("%3d", percent));
        level = static_cast<float>(percent);
    } else {
        MeterValue(layout::kBatteryMeter, kSnmpNoValue);
    }

    if (std::optional<std::string> hertz = read(snmp::kInputFrequency)) {
        std::string text = Tenths("%3.1f", SnmpInt(*hertz));
        MeterValue(layout::kFrequencyMeter, text);
        data.input_frequency = text;
    } else {
        MeterValue(layout::kFrequencyMeter, kSnmpNoValue);
    }

    DrawLineBars(data, level);
}

namespace {

// Where the k-th shown item of the "more" page goes. The first ones run over the whole width
// above the frame, the others fill the two columns inside it.
struct InfoPlace {
    int row;
    int label_col;
    int value_col;
    int end;
};

InfoPlace LeftPlace(int k) {
    int end = k < layout::kInfoUnderFrame ? layout::kRightPaneEnd : layout::kLeftPaneEnd;
    return {layout::kInfoTopRow + k, layout::kInfoLeftLabelCol, layout::kInfoLeftValueCol, end};
}

InfoPlace RightPlace(int row) {
    return {row, layout::kInfoRightLabelCol, layout::kInfoRightValueCol, layout::kRightPaneEnd};
}

void PutInfo(const InfoPlace& p, std::string_view label, std::string_view value) {
    PutText(p.row, p.label_col, label);
    PaneText(p.row, p.value_col, p.end, value);
}

}  // namespace

void ScreenTwo(const SnmpRead& read) {
    BasicScreen(2);
    PutRightAligned(layout::sb_label.row, layout::st_clock_right, layout::kSnmpMoreHint);
    // Open the border between the panes above the frame: the first items run across it.
    for (int row = layout::kInfoTopRow; row <= layout::kInfoFrameTop; ++row) {
        PutBlanks(row, layout::kLeftPaneEnd, 13);
    }

    int k = 0;
    std::optional<std::pair<std::string_view, std::string>> under_frame;
    for (const layout::InfoItem& item : layout::SNMPINFO_OID) {
        std::optional<std::string> value = read(item.object);
        if (!value) continue;
        CleanString(*value);
        if (k == layout::kInfoUnderFrame) {
            under_frame.emplace(item.label, *value);
        } else if (k < layout::kInfoRightFrom) {
            PutInfo(LeftPlace(k), item.label, *value);
        } else {
            PutInfo(RightPlace(k - layout::kInfoRightFrom + layout::kInfoRightTopRow), item.label,
                    *value);
        }
        ++k;
    }
    DrawBox(17, 79, layout::kInfoFrameTop, 0);

    // The fourth item's row is the frame's top edge. It takes the first free row of the right
    // column instead, below the items that belong there, so that every other item keeps its
    // place and nothing is drawn over.
    if (under_frame) {
        int right_items = std::max(0, k - layout::kInfoRightFrom);
        PutInfo(RightPlace(layout::kInfoRightTopRow + right_items), under_frame->first,
                under_frame->second);
    }
}

void SNMPnoDATA(const ScreenData& data) {
    BasicScreen(2);
    for (int row : {5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16}) {
        PutText(row, kSnmpValueCol, kSnmpNoValue);
    }
    PutRightTexts();
    PutLeftLabels();
    PutScheduleValues(data);
    for (int m = 0; m < layout::kMeterCount; ++m) {
        MeterValue(static_cast<layout::Meter>(m), kSnmpNoValue);
    }
    PutRightAligned(layout::sb_label.row, layout::st_clock_right, layout::kRedrawQuitHint);
}
