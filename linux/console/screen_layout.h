// Where every console screen puts its texts: positions and labels kept as data in one place, so
// that the status, configuration, issuer and help screens draw from the same tables instead of
// repeating them. Positions are (row, column), zero-based, on the 24 x 80 screen.
#pragma once

#include <array>
#include <string_view>

namespace layout {

struct Pos {
    int row;
    int col;
};

// One labelled item: the label is written at (row, label_col), the value at (row, value_col).
struct Item {
    int row;
    int label_col;
    int value_col;
    std::string_view label;
};

inline constexpr int kRows = 24;
inline constexpr int kCols = 80;

// Header and footer shared by the screens.
inline constexpr Pos st_title{0, 1};
inline constexpr Pos st_model{0, 42};
inline constexpr int st_clock_row = 1;
inline constexpr int st_clock_right = 78;  // the clock ends just before this column
inline constexpr Pos sb_label{23, 1};
inline constexpr Pos sb_system{23, 9};
inline constexpr std::string_view kSystemLabel = "System:";
inline constexpr std::string_view kStatusTitle = "(Kelvora) UPS Status Screen,";
inline constexpr std::string_view kVersion = "Ver. 2.1";
inline constexpr std::string_view kRedrawQuitHint = "Type 'r' to Redraw, Type 'q' to Quit.";

// Left pane of the serial-mode status display.
enum Sw1 {
    kUpsType,
    kRatingVoltage,
    kRatingCurrent,
    kRatingFrequency,
    kComport,
    kInputAc,
    kBatteryState,
    kUpsFault,
    kBoostBuck,
    kTemperature,
    kSelfTest,
    kCountdown,
    kScheduling,
    kNextShutdown,
    kNextRestart,
    kAcfailDelay,
    kTurnoffDelay,
    kBannerRow,
    kSw1Count
};

inline constexpr std::array<Item, kSw1Count> sw1{{
    {3, 3, 23, "UPS Type          :"},
    {4, 3, 23, "UPS Rating Voltage:       Volt"},
    {5, 3, 23, "UPS Rating Current:       Amp"},
    {6, 3, 23, "UPS Line Frequency:       Hz"},
    {7, 3, 23, "Communication Port:"},
    {9, 3, 23, "   Input AC Power :"},
    {10, 3, 23, "   Battery Status :"},
    {11, 3, 23, "   UPS Functioning:"},
    {12, 3, 23, "   Boost/Buck     :"},
    {13, 3, 23, "   UPS Temperature:      C"},
    {14, 3, 23, "   UPS Self-Test  :"},
    {16, 3, 24, "Count Down Function:"},
    {17, 3, 24, "Scheduling Function:"},
    {18, 3, 24, "Next Shutdown Time : ---  --:--"},
    {19, 3, 24, "Next Restart  Time : ---  --:--"},
    {20, 3, 26, "ACfail Shutdown Delay:      Min."},
    {21, 3, 26, "UPS Turn Off Delay   :      Min."},
    {15, 3, 27, "\t\t\t\t"},
}};

inline constexpr Pos kBanner{15, 4};
inline constexpr std::string_view kBannerText = "<<System is About to Shut Down>>";

// Right pane: five meters, each a label row (with its value column), a scale row and a
// figures row. Rows without a value carry -1.
inline constexpr std::string_view kScale = " |----|----|----|----|----|----|--";
inline constexpr std::string_view kVoltFigures = " 70   80   90  100  110  120  130";
inline constexpr std::string_view kHighVoltFigures = "180  190  200  210  220  230  240";
inline constexpr std::string_view kPercentFigures = " 0    20   40   60   80  100  120";
inline constexpr std::string_view kHertzFigures = " 0    20   40   60   80   90  100";

inline constexpr int kSw2Count = 15;
inline constexpr std::array<Item, kSw2Count> sw2{{
    {3, 42, 62, " UPS Input Voltage:       Volt"},
    {4, 42, -1, kScale},
    {5, 42, -1, kVoltFigures},
    {7, 42, 63, " UPS Output Voltage:       Volt"},
    {8, 42, -1, kScale},
    {9, 42, -1, kVoltFigures},
    {11, 42, 62, " UPS Power Loading:    %"},
    {12, 42, -1, kScale},
    {13, 42, -1, kPercentFigures},
    {15, 42, 62, " UPS Battery Level:    %"},
    {16, 42, -1, kScale},
    {17, 42, -1, kPercentFigures},
    {19, 42, 64, " UPS Input Frequency:      Hz"},
    {20, 42, -1, kScale},
    {21, 42, -1, kHertzFigures},
}};

// The meters in sw2 order: index of the label entry; scale and figures follow it.
enum Meter {
    kInputVoltageMeter,
    kOutputVoltageMeter,
    kLoadMeter,
    kBatteryMeter,
    kFrequencyMeter,
    kMeterCount
};
constexpr const Item& MeterLabel(Meter m) {
    return sw2[static_cast<std::size_t>(m) * 3];
}
constexpr int ScaleRow(Meter m) {
    return sw2[static_cast<std::size_t>(m) * 3 + 1].row;
}
constexpr int FiguresRow(Meter m) {
    return sw2[static_cast<std::size_t>(m) * 3 + 2].row;
}

// Bars start one column into the scale and end with it: a reading that would need a longer bar
// fills the meter and stops at its edge instead of running over the pane's border.
inline constexpr int kBarCol = 43;
inline constexpr int kBarCells = 33;  // columns 43 to 75, the last column of the scale

// Entry menu of the status screen.
inline constexpr Pos LPos{6, 12};
inline constexpr Pos RPos{9, 12};
inline constexpr Pos IPos{15, 10};
inline constexpr Pos CPos{16, 10};
inline constexpr Pos HPos{19, 2};
inline constexpr int kMenuValueCol = 31;
inline constexpr std::string_view kLocalItem =
    "<<< [l]  M O N I T O R   L O C A L     U  P  S   >>>";
inline constexpr std::string_view kRemoteItem =
    "<<< [r]  M O N I T O R   R E M O T E   U  P  S   >>>";
inline constexpr std::string_view kAddressLabel = "[i] IP Address     : ";
inline constexpr std::string_view kCommunityLabel = "[c] Community Name : ";

using HelpText = std::array<std::string_view, 3>;
inline constexpr HelpText HLP_LOCAL{
    "  \t<< Monitor a UPS which provides your computer's power >> \t",
    "  \t<< UPS may be connected to the NETWORK or to the SERIAL PORT >> ",
    "\tPress [enter]-Proceed, [r]-monitor Remote UPS, [q]-Quit\t\t"};
inline constexpr HelpText HLP_REMOTE{
    "\t<< Monitor a UPS situated far your computer. >>\t\t\t",
    "\tPress  [i] to enter the IP Address, [c] for the Community Name, ",
    "\tthen press [enter] to Proceed or [q] to Quit.\t\t\t"};
inline constexpr HelpText HLP_IPADD{
    "\t<<  The IP Address of the SNMP Agent connected to the UPS. >>\t",
    "\tEnter the IP Address of the SNMP Agent.\t\t\t\t",
    "\tPress [BKSP] to delete a character, press [enter] when through.\t"};
inline constexpr HelpText HLP_CMNTY{
    "\t<<  The Community Name of the SNMP Agent connected to the UPS.>>",
    "\tEnter the Community Name of the SNMP Agent.\t\t\t",
    "\tPress [BKSP] to delete a character, press [enter] when through.\t"};

}  // namespace layout

namespace layout {

// Left pane of the SNMP displays: labels at (3 + i, 3), values at column 25 unless said.
inline constexpr std::array<std::string_view, 19> SNMP_LEFTTXT{
    "Ip Address       :",
    "Community Name   :",
    "     Input AC Power :",
    "     Battery Status :",
    "     Boost/Buck     :",
    "     UPS Temperature:",
    "     UPS Self-Test  :",
    "                     ",
    "Time on Battery     :",
    "Battery Voltage     :",
    "Rating Voltage      :",
    "Last Spike          :",
    "Last Sag            :",
    "Last Failure Cause  :",
    "\t\t\t      ",
    "Next Shutdown Time :",
    "Next Restart Time  :",
    "ACfail Shutdown Delay:      Min.",
    "UPS Turn Off Delay   :      Min.",
};
inline constexpr int kSnmpLabelRow = 3;
inline constexpr int kSnmpLabelCol = 3;
inline constexpr int kSnmpValueCol = 25;
inline constexpr Pos kSnmpAddress{3, 23};
inline constexpr Pos kSnmpCommunity{4, 23};
inline constexpr Pos kSnmpBanner{17, 4};
inline constexpr Pos kSnmpNextShutdown{18, 24};
inline constexpr Pos kSnmpNextRestart{19, 24};
inline constexpr Pos kSnmpAcfailDelay{20, 26};
inline constexpr Pos kSnmpTurnoffDelay{21, 26};
inline constexpr std::string_view kSnmpNoValue = "N/A         ";

}  // namespace layout
