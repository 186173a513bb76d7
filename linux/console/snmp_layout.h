// Where the SNMP displays put the agent's readings: the rows of the main page's left pane and
// the objects of the "more" page, named by the one object table so that no identifier is
// spelled twice.
#pragma once

#include <array>
#include <string_view>

#include "screen_layout.h"
#include "snmp_objects.h"

namespace layout {

// Rows of the main page's left pane that carry a reading, values at kSnmpValueCol.
inline constexpr int kSnmpInputAcRow = 5;
inline constexpr int kSnmpBatteryRow = 6;
inline constexpr int kSnmpBoostBuckRow = 7;
inline constexpr int kSnmpTemperatureRow = 8;
inline constexpr int kSnmpSelfTestRow = 9;
inline constexpr int kSnmpTimeOnBatteryRow = 11;
inline constexpr int kSnmpBatteryVoltageRow = 12;
inline constexpr int kSnmpRatingVoltageRow = 13;
inline constexpr int kSnmpLastSpikeRow = 14;
inline constexpr int kSnmpLastSagRow = 15;
inline constexpr int kSnmpFailureCauseRow = 16;

// The left pane's inner border: a value from the agent stops before it, whatever its length.
inline constexpr int kLeftPaneEnd = 38;
inline constexpr int kRightPaneEnd = 78;
inline constexpr int kRightPaneStart = 42;  // where the right pane's texts begin

inline constexpr std::string_view kSnmpRemoteHint = "[r]-Redraw, [m]-More, [q]-Quit       ";
inline constexpr std::string_view kSnmpMoreHint = "[r]-Redraw, [b]-Back, [q]-Quit\t      ";

// The "more" page: identification and configuration objects, shown in this order, each one
// that the agent has taking the next place.
struct InfoItem {
    snmp::Obj object;
    std::string_view label;
};

inline constexpr std::array<InfoItem, 26> SNMPINFO_OID{{
    {snmp::kSysContact, "System Contact    : "},
    {snmp::kSysName, "System Name       : "},
    {snmp::kSysLocation, "System Location   : "},
    {snmp::kFirmwareRev, "Firmware rev.     : "},
    {snmp::kDateMade, "Date Made         : "},
    {snmp::kSerialNumber, "Serial #          : "},
    {snmp::kAgentRev, "Agent Rev.        : "},
    {snmp::kBatteryReplaceDate, "Batt. Replace Date: "},
    {snmp::kBatteryReplaceFlag, "Batt. Replace Flag: "},
    {snmp::kBatteryCurrent, "Batt. Current     : "},
    {snmp::kInputPhase, "Input Phase       : "},
    {snmp::kOutputPhase, "Output Phase      : "},
    {snmp::kDevicesAttached, "Devices Attached  : "},
    {snmp::kRatedOutputVoltage, "Rated Output Volt.: "},
    {snmp::kHighTransferVoltage, "High Transfer Volt: "},
    {snmp::kLowTransferVoltage, "Low Transfer Volt.: "},
    {snmp::kAlarmFlag, "Alarm Flag        : "},
    {snmp::kAlarmTimer, "Alarm Timer       : "},
    {snmp::kMinReturnCapacity, "Min. Ret. Cap.    : "},
    {snmp::kSensitivity, "Sensitivity       : "},
    {snmp::kLowBatteryRunTime, "Low Batt. Run Time: "},
    {snmp::kReturnDelay, "Return Delay      : "},
    {snmp::kDiagnosticsSchedule, "Diagnostics Sched.: "},
    {snmp::kLastDiagnostics, "Last Diagnostics  : "},
    {snmp::kCalibrationResult, "Calib. Results    : "},
    {snmp::kCalibrationDate, "Calib. Date       : "},
}};

// The first shown items run over the whole width above the frame (rows 3 to 5); the rest fill
// the left column under it and, from kInfoRightFrom on, the right column.
inline constexpr int kInfoTopRow = 3;
inline constexpr int kInfoLeftLabelCol = 2;
inline constexpr int kInfoLeftValueCol = 22;
inline constexpr int kInfoRightLabelCol = 42;
inline constexpr int kInfoRightValueCol = 62;
inline constexpr int kInfoRightFrom = 19;
inline constexpr int kInfoRightTopRow = 7;
// The frame's top edge lies on the row the fourth shown item would take.
inline constexpr int kInfoUnderFrame = 3;
inline constexpr int kInfoFrameTop = 6;

}  // namespace layout
