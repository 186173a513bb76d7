// The pure rules behind the status pages: which scale a voltage gauge shows and how far the
// chart's voltage axis reaches. Kept apart from the widgets so they can be checked directly.
#pragma once

#include <optional>

namespace kelvora::gui {

// A stretch of a scale, from one value to another.
struct Span {
    double from = 0;
    double to = 0;
    friend bool operator==(const Span&, const Span&) = default;
};

// Ticks every interval from one value to another.
struct TickSet {
    double from = 0;
    double to = 0;
    double interval = 0;
    friend bool operator==(const TickSet&, const TickSet&) = default;
};

// What a voltage gauge shows around a reading. The minor ticks are only partly decided here:
// when minorSpan is empty the gauge keeps its minor ticks, and when minorInterval is empty it
// keeps their spacing.
struct VoltageScale {
    Span range;
    TickSet major;
    std::optional<Span> minorSpan;
    std::optional<double> minorInterval;
    Span low;
    Span middle;
    Span high;
};

// The scale for a reading in volts: four bands cover low-voltage, 110 V, 220 V and 380 V
// systems, each boundary belonging to the higher band. At 460 V and above no band fits and the
// gauge keeps the scale it has (nullopt), so a wild reading does not throw the dial around.
std::optional<VoltageScale> SelectVoltageScale(double volts);

// The chart's axis top for a trace after a reading of whole volts: it only grows, in steps of
// 120, 250 and 400 V. A reading of exactly 120 V leaves it where it is.
int NextAxisMax(int currentMax, int volts);

// Degrees Fahrenheit for degrees Celsius.
constexpr double CelsiusToFahrenheit(double celsius) {
    return celsius * 1.8 + 32;
}

}  // namespace kelvora::gui
