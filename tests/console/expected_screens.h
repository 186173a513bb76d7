// The parts of the status screens a test builds its expected screen from, written out from
// their row and column positions rather than taken from the code's tables.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "screen.h"
#include "virtual_screen.h"

inline constexpr const char* kScale = " |----|----|----|----|----|----|--";
inline constexpr const char* kHighFigures = "180  190  200  210  220  230  240";

// Two panes, the title and the footer; `hint` is the key hint on row 23, ending at column 77.
inline Canvas TwoPanes(std::string_view hint = "") {
    Canvas c;
    c.Box(21, 39, 2, 0);
    c.Box(21, 40, 2, 39);
    c.Put(0, 1, "(Kelvora) UPS Status Screen, Ver. 2.1");
    c.Put(23, 1, "System:");
    c.Put(23, 9, SystemText());
    if (!hint.empty()) c.Put(23, 78 - static_cast<int>(hint.size()), hint);
    return c;
}

inline void RightTexts(Canvas& c) {
    c.Put(3, 42, " UPS Input Voltage:       Volt");
    c.Put(4, 42, kScale);
    c.Put(5, 42, " 70   80   90  100  110  120  130");
    c.Put(7, 42, " UPS Output Voltage:       Volt");
    c.Put(8, 42, kScale);
    c.Put(9, 42, " 70   80   90  100  110  120  130");
    c.Put(11, 42, " UPS Power Loading:    %");
    c.Put(12, 42, kScale);
    c.Put(13, 42, " 0    20   40   60   80  100  120");
    c.Put(15, 42, " UPS Battery Level:    %");
    c.Put(16, 42, kScale);
    c.Put(17, 42, " 0    20   40   60   80  100  120");
    c.Put(19, 42, " UPS Input Frequency:      Hz");
    c.Put(20, 42, kScale);
    c.Put(21, 42, " 0    20   40   60   80   90  100");
}

inline void SnmpLeftLabels(Canvas& c) {
    const char* labels[] = {"Ip Address       :",
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
                            "UPS Turn Off Delay   :      Min."};
    for (int i = 0; i < 19; ++i) c.Put(3 + i, 3, labels[i]);
}

// Every row but the clock's, which is checked for its form only.
inline void ExpectScreen(const VirtualScreen& screen, const Canvas& expected) {
    for (int row = 0; row < 24; ++row) {
        if (row == 1) continue;
        EXPECT_EQ(screen.Row(row), expected.Row(row)) << "row " << row;
    }
    std::string clock = screen.Row(1);
    EXPECT_TRUE(std::regex_match(
        clock,
        std::regex(" {56}\\d{4}-\\d\\d-\\d\\d, \\d\\d:\\d\\d (Sun|Mon|Tue|Wed|Thu|Fri|Sat)\\.  ")))
        << "clock row: [" << clock << "]";
}
