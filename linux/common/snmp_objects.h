// The one table of the objects both Linux programs read from or set on a UPS's SNMP agent. All
// UPS objects sit under the enterprise prefix .1.3.6.1.4.1.935.1.1.1 and are scalars (".0");
// the three system-group objects are the agent's own description.
//
// `kind` is what the value must be for us to take it: a number row refuses an OCTET STRING, a
// NULL or any other non-integer type, so that a broken or hostile agent can never turn text
// into a reading or a status bit. Text rows take strings and, since agents differ, numbers.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace snmp {

enum class Kind { kNumber, kText };

enum class Obj : std::size_t {
    kModel,
    kName,
    kFirmwareRev,
    kDateMade,
    kSerialNumber,
    kAgentRev,
    kBatteryStatus,
    kTimeOnBattery,
    kBatteryReplaceDate,
    kBatteryCapacity,
    kBatteryVoltage,
    kTemperature,
    kBatteryReplaceFlag,
    kBatteryRatingVoltage,
    kBatteryCurrent,
    kInputPhase,
    kLineVoltage,
    kLastSpike,
    kLastSag,
    kInputFrequency,
    kLastFailureCause,
    kOutputStatus,
    kOutputPhase,
    kOutputVoltage,
    kOutputFrequency,
    kOutputLoad,
    kDevicesAttached,
    kRatedOutputVoltage,
    kHighTransferVoltage,
    kLowTransferVoltage,
    kAlarmFlag,
    kAlarmTimer,
    kMinReturnCapacity,
    kSensitivity,
    kLowBatteryRunTime,
    kReturnDelay,
    kShutdownDelay,
    kSleepTime,
    kSleepOnBattery,
    kTurnOff,
    kReboot,
    kSleep,
    kSwitchToBattery,
    kLightsAndBeep,
    kSwitchToUtility,
    kDiagnosticsSchedule,
    kSelfTestStart,
    kSelfTestState,
    kLastDiagnostics,
    kLightsTest,
    kCalibrate,
    kCalibrationResult,
    kCalibrationDate,
    kSysContact,
    kSysName,
    kSysLocation,
    kCount
};

struct Object {
    Obj id;
    std::string_view oid;
    Kind kind;
};

using enum Kind;
using enum Obj;

// Set objects take INTEGER 2 for "do it" unless noted.
inline constexpr std::array<Object, static_cast<std::size_t>(kCount)> kObjects{{
    {kModel, ".1.3.6.1.4.1.935.1.1.1.1.1.1.0", kText},         // UPS model, shown after the name
    {kName, ".1.3.6.1.4.1.935.1.1.1.1.1.2.0", kText},          // UPS name, shown before the model
    {kFirmwareRev, ".1.3.6.1.4.1.935.1.1.1.1.2.1.0", kText},   // firmware revision
    {kDateMade, ".1.3.6.1.4.1.935.1.1.1.1.2.2.0", kText},      // date of manufacture
    {kSerialNumber, ".1.3.6.1.4.1.935.1.1.1.1.2.3.0", kText},  // serial number
    {kAgentRev, ".1.3.6.1.4.1.935.1.1.1.1.2.4.0", kText},      // agent revision
    {kBatteryStatus, ".1.3.6.1.4.1.935.1.1.1.2.1.1.0", kNumber},         // 2 normal, 3 battery low
    {kTimeOnBattery, ".1.3.6.1.4.1.935.1.1.1.2.1.2.0", kNumber},         // seconds on battery
    {kBatteryReplaceDate, ".1.3.6.1.4.1.935.1.1.1.2.1.3.0", kText},      // last replaced
    {kBatteryCapacity, ".1.3.6.1.4.1.935.1.1.1.2.2.1.0", kNumber},       // percent
    {kBatteryVoltage, ".1.3.6.1.4.1.935.1.1.1.2.2.2.0", kNumber},        // tenths of a volt
    {kTemperature, ".1.3.6.1.4.1.935.1.1.1.2.2.3.0", kNumber},           // tenths of a degree C
    {kBatteryReplaceFlag, ".1.3.6.1.4.1.935.1.1.1.2.2.5.0", kText},      // battery needs replacing
    {kBatteryRatingVoltage, ".1.3.6.1.4.1.935.1.1.1.2.2.6.0", kNumber},  // tenths of a volt
    {kBatteryCurrent, ".1.3.6.1.4.1.935.1.1.1.2.2.7.0", kText},          // battery current
    {kInputPhase, ".1.3.6.1.4.1.935.1.1.1.3.1.1.0", kText},              // input phase
    {kLineVoltage, ".1.3.6.1.4.1.935.1.1.1.3.2.1.0", kNumber},       // tenths of a volt; 0 = failed
    {kLastSpike, ".1.3.6.1.4.1.935.1.1.1.3.2.2.0", kNumber},         // highest recent line voltage
    {kLastSag, ".1.3.6.1.4.1.935.1.1.1.3.2.3.0", kNumber},           // lowest recent line voltage
    {kInputFrequency, ".1.3.6.1.4.1.935.1.1.1.3.2.4.0", kNumber},    // tenths of a hertz
    {kLastFailureCause, ".1.3.6.1.4.1.935.1.1.1.3.2.5.0", kNumber},  // last transfer's cause
    {kOutputStatus, ".1.3.6.1.4.1.935.1.1.1.4.1.1.0", kNumber},      // 4/6 boost or buck, 5 off
    {kOutputPhase, ".1.3.6.1.4.1.935.1.1.1.4.1.2.0", kText},         // output phase
    {kOutputVoltage, ".1.3.6.1.4.1.935.1.1.1.4.2.1.0", kNumber},     // tenths of a volt
    {kOutputFrequency, ".1.3.6.1.4.1.935.1.1.1.4.2.2.0", kNumber},   // tenths of Hz; 0 = none
    {kOutputLoad, ".1.3.6.1.4.1.935.1.1.1.4.2.3.0", kNumber},        // percent
    {kDevicesAttached, ".1.3.6.1.4.1.935.1.1.1.5.1.1.0", kText},     // attached devices
    {kRatedOutputVoltage, ".1.3.6.1.4.1.935.1.1.1.5.2.1.0", kText},  // rated output voltage
    {kHighTransferVoltage, ".1.3.6.1.4.1.935.1.1.1.5.2.2.0", kText},  // high transfer voltage
    {kLowTransferVoltage, ".1.3.6.1.4.1.935.1.1.1.5.2.3.0", kText},   // low transfer voltage
    {kAlarmFlag, ".1.3.6.1.4.1.935.1.1.1.5.2.4.0", kText},            // alarm flag
    {kAlarmTimer, ".1.3.6.1.4.1.935.1.1.1.5.2.5.0", kText},           // alarm timer
    {kMinReturnCapacity, ".1.3.6.1.4.1.935.1.1.1.5.2.6.0", kText},    // minimum return capacity
    {kSensitivity, ".1.3.6.1.4.1.935.1.1.1.5.2.7.0", kText},          // sensitivity
    {kLowBatteryRunTime, ".1.3.6.1.4.1.935.1.1.1.5.2.8.0", kText},    // low-battery run time
    {kReturnDelay, ".1.3.6.1.4.1.935.1.1.1.5.2.9.0", kText},          // return delay
    {kShutdownDelay, ".1.3.6.1.4.1.935.1.1.1.5.2.10.0", kNumber},     // set: seconds to output off
    {kSleepTime, ".1.3.6.1.4.1.935.1.1.1.5.2.11.0", kNumber},         // set: minutes asleep
    {kSleepOnBattery, ".1.3.6.1.4.1.935.1.1.1.6.1.1.0", kNumber},     // set: sleep, back by hand
    {kTurnOff, ".1.3.6.1.4.1.935.1.1.1.6.2.1.0", kNumber},  // set: off after the shutdown delay
    {kReboot, ".1.3.6.1.4.1.935.1.1.1.6.2.2.0", kNumber},   // set: reboot the UPS
    {kSleep, ".1.3.6.1.4.1.935.1.1.1.6.2.3.0", kNumber},    // set: asleep for the sleep time
    {kSwitchToBattery, ".1.3.6.1.4.1.935.1.1.1.6.2.4.0", kNumber},    // set: run on battery
    {kLightsAndBeep, ".1.3.6.1.4.1.935.1.1.1.6.2.5.0", kNumber},      // set: all lights and beep
    {kSwitchToUtility, ".1.3.6.1.4.1.935.1.1.1.6.2.6.0", kNumber},    // set: back to utility
    {kDiagnosticsSchedule, ".1.3.6.1.4.1.935.1.1.1.7.2.1.0", kText},  // diagnostics schedule
    {kSelfTestStart, ".1.3.6.1.4.1.935.1.1.1.7.2.2.0", kNumber},      // set: ten-second self-test
    {kSelfTestState, ".1.3.6.1.4.1.935.1.1.1.7.2.3.0", kNumber},      // 4 = test in progress
    {kLastDiagnostics, ".1.3.6.1.4.1.935.1.1.1.7.2.4.0", kText},      // last diagnostics result
    {kLightsTest, ".1.3.6.1.4.1.935.1.1.1.7.2.5.0", kNumber},       // set: front-panel lights test
    {kCalibrate, ".1.3.6.1.4.1.935.1.1.1.7.2.6.0", kNumber},        // set: discharge calibration
    {kCalibrationResult, ".1.3.6.1.4.1.935.1.1.1.7.2.7.0", kText},  // calibration result
    {kCalibrationDate, ".1.3.6.1.4.1.935.1.1.1.7.2.8.0", kText},    // calibration date
    {kSysContact, ".1.3.6.1.2.1.1.4.0", kText},                     // system contact
    {kSysName, ".1.3.6.1.2.1.1.5.0", kText},                        // system name
    {kSysLocation, ".1.3.6.1.2.1.1.6.0", kText},                    // system location
}};

constexpr const Object& Row(Obj id) {
    return kObjects[static_cast<std::size_t>(id)];
}
constexpr std::string_view Oid(Obj id) {
    return Row(id).oid;
}

// The row of a dotted identifier, or nullptr for one that is not in the table.
constexpr const Object* Find(std::string_view oid) {
    for (const Object& o : kObjects) {
        if (o.oid == oid) return &o;
    }
    return nullptr;
}

// Every row sits at its own index, so Row(id) is that id's row.
constexpr bool RowsInOrder() {
    for (std::size_t i = 0; i < kObjects.size(); ++i) {
        if (static_cast<std::size_t>(kObjects[i].id) != i) return false;
    }
    return true;
}
static_assert(RowsInOrder());

}  // namespace snmp
