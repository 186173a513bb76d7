// How full the battery is, in percent, from what the UPS reports. Q1 UPSes give only a
// voltage, so the charge is read off the line between a flat and a full lead-acid battery.
#pragma once

#include <cstdint>

namespace torvane {

struct CapacityInput {
    bool connected = false;
    bool secDialect = false;
    std::int32_t secCapacity = -1;         // SEC: tenths of a percent, negative when unknown
    std::int32_t batteryVoltage = 0;       // status: volts x 100
    std::uint8_t status = 0;               // status bits (standby type decides the formula)
    std::int32_t ratedBatteryVoltage = 0;  // rating: volts x 100, 0 without rating information
};

// 0 to 100.
int GetBatteryCapacity(const CapacityInput& in);

}  // namespace torvane
