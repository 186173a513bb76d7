#include "ups_capacity.h"

#include <algorithm>

#include "ups_lib/ups_records.h"

namespace torvane {
namespace {

// A reading close to full is shown as full: the resting voltage of a charged battery sags a
// little under load and the percentage would otherwise never reach the top.
int Clamp(std::int64_t percent) {
    if (percent > 90) return 100;
    if (percent < 0) return 0;
    return static_cast<int>(percent);
}

}  // namespace

int GetBatteryCapacity(const CapacityInput& in) {
    if (!in.connected) return 0;
    if (in.secDialect) {
        if (in.secCapacity < 0) return 0;
        // Whatever the UPS claims, a percentage stops at 100.
        return std::min(in.secCapacity / 10, 100);
    }
    if (in.batteryVoltage == 0) return 0;
    // Whole-number arithmetic on the hundredths the UPS sends, so a value right on a percent
    // boundary is not lost to rounding before the truncation.
    const std::int64_t v = in.batteryVoltage;
    if ((in.status & ups::kStandbyType) != 0) {
        // Standby: the whole battery string, flat at 20 V and full at 27.2 V per 24 V of rating:
        // (V - E) x 100 / (F - E) with E = B/24 x 20 and F = B/24 x 27.2.
        const std::int64_t b = in.ratedBatteryVoltage;
        if (b <= 0) return 0;
        return Clamp(100 * (240 * v - 200 * b) / (72 * b));
    }
    // On-line: one cell, flat at 1.667 V, 0.6 V of range: (V - 1.667) x 100 / 0.6.
    return Clamp((10 * v - 1667) / 6);
}

}  // namespace torvane
