// Battery capacity from the reported voltage, for both UPS styles, and from a SEC UPS's own
// figure.
#include "ups_capacity.h"

#include <gtest/gtest.h>

#include "ups_lib/ups_records.h"

namespace torvane {
namespace {

CapacityInput Online(std::int32_t volts100) {
    return {.connected = true, .batteryVoltage = volts100, .status = 0};
}

CapacityInput Standby(std::int32_t volts100, std::int32_t rated100) {
    return {.connected = true,
            .batteryVoltage = volts100,
            .status = ups::kStandbyType,
            .ratedBatteryVoltage = rated100};
}

TEST(BatteryCapacity, OnlinePerCell) {
    EXPECT_EQ(GetBatteryCapacity(Online(227)), 100);  // 100.5: above 90
    EXPECT_EQ(GetBatteryCapacity(Online(160)), 0);    // negative
    EXPECT_EQ(GetBatteryCapacity(Online(200)), 55);   // 55.5 truncated
    EXPECT_EQ(GetBatteryCapacity(Online(220)), 88);   // 88.83
    EXPECT_EQ(GetBatteryCapacity(Online(222)), 100);  // 92.17
    EXPECT_EQ(GetBatteryCapacity(Online(167)), 0);    // 0.05
    EXPECT_EQ(GetBatteryCapacity(Online(225)), 100);
}

TEST(BatteryCapacity, StandbyNeedsTheRatedVoltage) {
    // 24 V rating: flat at 20 V, full at 27.2 V.
    EXPECT_EQ(GetBatteryCapacity(Standby(2360, 2400)), 50);  // exactly 50: not lost to rounding
    EXPECT_EQ(GetBatteryCapacity(Standby(2400, 2400)), 55);  // 55.5
    EXPECT_EQ(GetBatteryCapacity(Standby(2000, 2400)), 0);
    EXPECT_EQ(GetBatteryCapacity(Standby(1900, 2400)), 0);
    EXPECT_EQ(GetBatteryCapacity(Standby(2700, 2400)), 100);  // 97.2
    // 12 V rating: flat at 10 V, full at 13.6 V.
    EXPECT_EQ(GetBatteryCapacity(Standby(1270, 1200)), 75);
    EXPECT_EQ(GetBatteryCapacity(Standby(2360, 0)), 0);  // no rating information
}

TEST(BatteryCapacity, NothingKnownGivesZero) {
    auto in = Online(227);
    in.connected = false;
    EXPECT_EQ(GetBatteryCapacity(in), 0);
    EXPECT_EQ(GetBatteryCapacity(Online(0)), 0);
    EXPECT_EQ(GetBatteryCapacity(Standby(0, 2400)), 0);
}

TEST(BatteryCapacity, SecTakesTheUpsFigureInTenths) {
    CapacityInput in{
        .connected = true, .secDialect = true, .secCapacity = 875, .batteryVoltage = 160};
    EXPECT_EQ(GetBatteryCapacity(in), 87);  // not the >90 rule, not the voltage
    in.secCapacity = 959;
    EXPECT_EQ(GetBatteryCapacity(in), 95);
    in.secCapacity = -1;
    EXPECT_EQ(GetBatteryCapacity(in), 0);
    in.secCapacity = 30000;  // a garbled figure stays a percentage
    EXPECT_EQ(GetBatteryCapacity(in), 100);
}

}  // namespace
}  // namespace torvane
