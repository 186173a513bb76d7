// Where `kelvora config` puts its texts. Positions are (row, column), zero-based, on the
// 24 x 80 screen; labels start at column 9, values at the column of their entry.
#pragma once

#include <array>
#include <string_view>

#include "screen_layout.h"

namespace layout {

// The entries by the order the screen has always numbered them.
enum ConfigEntry {
    kCfgAcfail,
    kCfgBattlow,
    kCfgTurnoff,
    kCfgComport,
    kCfgCountdown,
    kCfgScheduling,
    kCfgTimeScheduling,
    kCfgDays,
    kCfgStartUp,
    kCfgShutdown,
    kCfgSave,
    kCfgQuit,
    kCfgRating,
    kCfgAgentLine,
    kCfgEntryCount
};

inline constexpr int kCfgLabelCol = 9;

// cw_p and cw_s: (row, value column) and label of each entry.
inline constexpr std::array<Pos, kCfgEntryCount> cw_p{{
    {3, 62},
    {4, 62},
    {5, 62},
    {7, 33},
    {9, 42},
    {10, 42},
    {12, 36},
    {14, 0},
    {15, 0},
    {16, 0},
    {18, 35},
    {19, 19},
    {6, 62},
    {8, 33},
}};
inline constexpr std::array<std::string_view, kCfgEntryCount> cw_s{{
    "[d] System Shutdown Delay Time When AC Power Failed:      Min.",
    "[b] System Shutdown Delay Time When Battery Low    :      Min.",
    "[u] UPS Turn Off Delay Time                        :      Min.",
    "[c] Communication Port:",
    "[n] Shutdown Count Down Display:",
    "[l] Scheduling Function        :",
    "[t] Time Scheduling(hh:mm)",
    "            Sun.   Mon.   Tue.   Wed.   Thu.   Fri.   Sat.",
    "Start-Up:    :      :      :      :      :      :      :  ",
    "Shutdown:    :      :      :      :      :      :      :  ",
    "[s] Save Configuration. ",
    "[q] Quit. ",
    "[v] Battery Rating Voltage(if not provided by UPS) :  --- Volt.",
    "",
}};

inline constexpr Pos kCfgTurnoffUps{11, 9};
inline constexpr int kCfgTurnoffUpsValueCol = 49;
inline constexpr std::string_view kCfgTurnoffUpsLabel = "[a] Turn off UPS after System Shutdown:";
inline constexpr Pos kCfgMonitoring{17, 9};
inline constexpr int kCfgMonitoringValueCol = 39;
inline constexpr std::string_view kCfgMonitoringLabel = "[k] <<Change UPS Monitoring>> ";
inline constexpr std::string_view kCfgSerialMonitoring = "Monitor UPS from local serial port";
inline constexpr std::string_view kCfgSnmpMonitoring = "Monitor local UPS SNMP agent \t   ";
inline constexpr Pos kCfgCommunity{7, 9};
inline constexpr Pos kCfgAgentIp{8, 9};
inline constexpr std::string_view kCfgCommunityLabel = "[o] Community Name   : ";
inline constexpr std::string_view kCfgAgentIpLabel = "[p] Ip Address       : ";
inline constexpr int kCfgTextCol = 33;     // first column of every line editor
inline constexpr int kCfgTextEndCol = 62;  // editors accept characters left of this column

// The schedule grid: hour and minute columns of each day from Sunday.
inline constexpr std::array<int, 14> x_position{20, 23, 27, 30, 34, 37, 41,
                                                44, 48, 51, 55, 58, 62, 65};
inline constexpr int kCfgStartUpRow = 15;
inline constexpr int kCfgShutdownRow = 16;

inline constexpr Pos t_xy{12, 37};          // hints
inline constexpr Pos kCfgTooClose{12, 36};  // the schedule warning
inline constexpr std::array<Pos, 3> cb_p{{{21, 9}, {22, 9}, {23, 9}}};
inline constexpr Pos ct_p{0, 1};
inline constexpr std::string_view kCfgTitle = "(Kelvora) UPS Configuration Utility,";
inline constexpr int kCfgClockRight = 77;

// The three help lines of each input mode (1 main, 2 serial device, 3 grid, 4 community,
// 5 agent address).
inline constexpr std::string_view kCfgBkspLine =
    "Press [BKSP] to delete char, [Esc] to quit Edit Mode.  ";
inline constexpr std::string_view kCfgNoLine = "                           ";
inline constexpr std::array<HelpText, 5> kCfgHelp{{
    {"Press the letters in brackets to select items.         ",
     "Press [+], [-], or [i], [m] to change values.\t\t ", "Press [r] to redraw screen."},
    {"Input the device name then press [Enter] to confirm.   ", kCfgBkspLine, kCfgNoLine},
    {"Press [+], [-], or [i], [m] to change values.          ",
     "[r]-right, [l]-left, [u]-up, [d]-down to move cursor.  ", "Press [Enter] to exit.     "},
    {"Input the community name then press [Enter] to confirm.", kCfgBkspLine, kCfgNoLine},
    {"Input the ip address then press [Enter] to confirm.    ", kCfgBkspLine, kCfgNoLine},
}};

inline constexpr std::string_view kCfgSaveCompleted = "(Save Completed!)";
inline constexpr std::string_view kCfgQuitWarning = "(Press [q] again to quit without saving!)";
inline constexpr std::string_view kCfgScheduleOff = "(Turn Schedule Function ON first!)";
inline constexpr std::string_view kCfgRebootHint = "(Toggle [a] to set Automatic Reboot)";
inline constexpr std::string_view kCfgTooCloseText = "(Start Time Too Close to Shutdown Time!)";
// A save that did not happen says so instead of claiming success.
inline constexpr std::string_view kCfgSaveFailed = "(Save Failed! Files unchanged.)";
// Another editor saved since these values were read: the next [s] overwrites that save.
inline constexpr std::string_view kCfgChangedElsewhere = "(Changed elsewhere! [s] overwrites)";

}  // namespace layout
