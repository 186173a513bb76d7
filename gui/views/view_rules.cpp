#include "gui/views/view_rules.h"

namespace kelvora::gui {

std::optional<VoltageScale> SelectVoltageScale(double volts) {
    VoltageScale s;
    if (volts < 60) {
        // Below any mains voltage: one plain band, no warning zones.
        s.range = {0, 60};
        s.major = {0, 60, 10};
        s.low = {0, 60};
        s.middle = {0, 0};
        s.high = {0, 0};
    } else if (volts < 160) {
        s.range = {60, 160};
        s.major = {60, 160, 20};
        s.minorSpan = Span{60, 160};
        s.low = {60, 80};
        s.middle = {80, 140};
        s.high = {140, 160};
    } else if (volts < 260) {
        s.range = {160, 260};
        s.major = {160, 260, 20};
        s.minorSpan = Span{160, 260};
        s.minorInterval = 10;
        s.low = {160, 180};
        s.middle = {180, 240};
        s.high = {240, 260};
    } else if (volts < 460) {
        s.range = {260, 460};
        s.major = {260, 460, 40};
        s.minorSpan = Span{260, 460};
        s.minorInterval = 10;
        s.low = {260, 300};
        s.middle = {300, 420};
        s.high = {420, 460};
    } else {
        return std::nullopt;
    }
    return s;
}

int NextAxisMax(int currentMax, int volts) {
    if (currentMax >= volts) return currentMax;
    int next = currentMax;
    if (volts < 120) next = 120;
    if (volts > 120) next = 250;
    if (volts > 250) next = 400;
    return next;
}

}  // namespace kelvora::gui
