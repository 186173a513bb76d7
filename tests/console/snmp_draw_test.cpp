#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "expected_screens.h"
#include "fake_agent.h"
#include "screen.h"
#include "snmp_draw.h"
#include "snmp_layout.h"
#include "virtual_screen.h"

namespace {

class SnmpDraw : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(screen_.ok()) << "no 24 x 80 curses screen on /dev/null";
        UpsConfig config;
        WeekSchedule week;
        InitConfig(&config, &week);
        InitScreenData(data_);
        int flag = 0;
        GetFromConfig(data_, config, week, flag);
    }

    void MainPage(bool full_redraw) {
        SnmpRead read = agent_.Reader();
        DrawSnmpLeft(data_, full_redraw, state_, read);
        DrawSnmpRight(data_, read);
    }
    std::string At(int row, int col, int length) const {
        return screen_.Row(row).substr(static_cast<std::size_t>(col),
                                       static_cast<std::size_t>(length));
    }
    void Clear() { wclear(stdscr); }

    VirtualScreen screen_;
    ScreenData data_;
    SnmpDrawState state_;
    FakeAgent agent_ = FakeAgent::Normal();
};

void Schedule(Canvas& c) {
    c.Put(18, 24, "---  --:--");
    c.Put(19, 24, "---  --:--");
    c.Put(20, 26, " 5.0");
    c.Put(21, 26, " 3.0");
}

}  // namespace

TEST(CleanString, KeepsTheQuotedStringAndCutsWhatFollows) {
    auto clean = [](std::string text) {
        CleanString(text);
        return text;
    };
    EXPECT_EQ(clean("\"SIM-1000\" trailing printing"), "\"SIM-1000\"");
    EXPECT_EQ(clean("\"SIM-1000\""), "\"SIM-1000\"");
    EXPECT_EQ(clean("\"a\"b\"c\""), "\"a\"");  // a quote inside ends the string
    EXPECT_EQ(clean("x\"ab\"y"), "x\"ab\"");   // up to and including the second quote
    EXPECT_EQ(clean("\"\""), "\"\"");
    // Fewer than two quotes: unchanged.
    EXPECT_EQ(clean("2300"), "2300");
    EXPECT_EQ(clean("\"open"), "\"open");
    EXPECT_EQ(clean(""), "");
}

TEST(SnmpInt, TakesTheLeadingNumberAndSaturates) {
    EXPECT_EQ(SnmpInt("2300"), 2300);
    EXPECT_EQ(SnmpInt("-5"), -5);
    EXPECT_EQ(SnmpInt("12abc"), 12);
    EXPECT_EQ(SnmpInt("\"12\""), 0);  // a string is no number
    EXPECT_EQ(SnmpInt(""), 0);
    EXPECT_EQ(SnmpInt("***"), 0);
    EXPECT_EQ(SnmpInt("4294967295"), INT_MAX);  // a Gauge past the int range
    EXPECT_EQ(SnmpInt(std::string(2000, '9')), INT_MAX);
    EXPECT_EQ(SnmpInt("-" + std::string(2000, '9')), INT_MIN);
}

TEST_F(SnmpDraw, ANormalUpsOnAWholePage) {
    MainPage(true);

    Canvas c = TwoPanes();
    c.Put(0, 42, "\"Stavlen\"\"SIM-1000\"");
    SnmpLeftLabels(c);
    c.Put(5, 25, "Normal  ");
    c.Put(6, 25, "Normal  ");
    c.Put(7, 25, "OFF");
    c.Put(8, 25, "25.0 C ");
    c.Put(9, 25, "Stop       ");
    c.Put(11, 25, "     0 Sec.");
    c.Put(12, 25, "27.2 Volts");
    c.Put(13, 25, "24.0 Volts");
    c.Put(14, 25, "245.0 Volts");
    c.Put(15, 25, "215.0 Volts");
    c.Put(16, 25, "brownout    ");
    Schedule(c);
    RightTexts(c);
    c.Put(3, 62, "230.0");
    c.Put(5, 42, kHighFigures);
    c.Put(7, 63, "230.0");
    c.Put(9, 42, kHighFigures);
    c.Put(11, 62, " 21");
    c.Put(15, 62, "100");
    c.Put(19, 64, "50.0");
    // The bars are blanks in standout over the scale.
    for (auto [row, cells] : {std::pair{4, 26}, {8, 26}, {12, 6}, {16, 26}, {20, 13}}) {
        c.Put(row, 43, std::string(static_cast<std::size_t>(cells), ' '));
    }
    ExpectScreen(screen_, c);

    // (230 - 180) / 2 + 1 columns for both voltages, 21 / 4 + 1 for the load, 100 / 4 + 1 for
    // the battery and 50 / 4 + 1 for the frequency.
    for (auto [row, cells] : {std::pair{4, 26}, {8, 26}, {12, 6}, {16, 26}, {20, 13}}) {
        EXPECT_EQ(screen_.StandoutMap(row), std::string(43, '.') + std::string(cells, '#') +
                                                std::string(80 - 43 - cells, '.'))
            << "row " << row;
    }
    EXPECT_EQ(data_.input_voltage, "230.0");
    EXPECT_EQ(data_.output_voltage, "230.0");
    EXPECT_EQ(data_.load, " 21");
    EXPECT_EQ(data_.input_frequency, "50.0");
}

TEST_F(SnmpDraw, AFailedUtilityBlinksWithTheTimeOnBatteryEveryPass) {
    agent_.values[snmp::kLineVoltage] = "0";
    agent_.values[snmp::kTimeOnBattery] = "42";
    MainPage(true);
    agent_.values[snmp::kTimeOnBattery] = "45";
    MainPage(false);  // not a slow pass: the time on battery comes with the failure itself
    EXPECT_EQ(At(5, 25, 8), "AC FAILS");
    EXPECT_EQ(At(11, 25, 11), "    45 Sec.");
    EXPECT_EQ(At(17, 4, 32), "<<System is About to Shut Down>>");
    EXPECT_EQ(At(3, 62, 5), "0.0  ");
    EXPECT_EQ(screen_.StandoutMap(4), std::string(80, '.'));  // 0 V draws no bar

    // In standout on every other pass, the blanks after the text never.
    bool first = screen_.Standout(5, 25);
    EXPECT_EQ(screen_.Standout(17, 4), first);
    MainPage(false);
    EXPECT_NE(screen_.Standout(5, 25), first);
    EXPECT_NE(screen_.Standout(17, 4), first);
    EXPECT_EQ(At(5, 25, 8), "AC FAILS");
    MainPage(false);
    EXPECT_EQ(screen_.Standout(5, 25), first);
    EXPECT_FALSE(screen_.Standout(5, 33));

    // A negative time on battery leaves the row as it was.
    agent_.values[snmp::kTimeOnBattery] = "-1";
    MainPage(false);
    EXPECT_EQ(At(11, 25, 11), "    45 Sec.");
    agent_.values.erase(snmp::kTimeOnBattery);
    MainPage(false);
    EXPECT_EQ(At(11, 25, 13), "N/A          ");
}

TEST_F(SnmpDraw, TheBannerComesWithALowBatteryOrAShutdownCloseAtHandOnly) {
    MainPage(true);
    EXPECT_EQ(At(17, 4, 32), std::string(32, ' '));

    agent_.values[snmp::kBatteryStatus] = "3";
    MainPage(false);
    EXPECT_EQ(At(6, 25, 8), "BAT. LOW");
    EXPECT_EQ(At(17, 4, 32), "<<System is About to Shut Down>>");

    agent_.values[snmp::kBatteryStatus] = "2";
    data_.shutdown_pending = "YES";
    MainPage(false);
    EXPECT_EQ(At(6, 25, 8), "Normal  ");
    EXPECT_EQ(At(17, 4, 32), "<<System is About to Shut Down>>");

    // A line voltage the agent did not give is "N/A", not a failure: no banner for it.
    data_.shutdown_pending = "NO ";
    agent_.values.erase(snmp::kLineVoltage);
    MainPage(false);
    EXPECT_EQ(At(5, 25, 12), "N/A         ");
    EXPECT_EQ(At(17, 4, 32), std::string(32, ' '));
    EXPECT_EQ(At(3, 62, 12), "N/A         ");
    EXPECT_EQ(data_.input_voltage, "N/A");
}

TEST_F(SnmpDraw, BatteryStatusAndBoostBuckCodes) {
    struct Case {
        const char* status;
        const char* self_test;
        const char* shown;  // nullptr: the row keeps what was there
    };
    for (const Case& k : {Case{"4", "3", "ON "}, Case{"6", "3", "ON "}, Case{"2", "3", "OFF"},
                          Case{"5", "3", "OFF"}, Case{"1", "3", "N/A         "},
                          Case{"1", "4", nullptr}, Case{"0", "3", nullptr}}) {
        Clear();
        PutText(7, 25, "old");
        agent_.values[snmp::kOutputStatus] = k.status;
        agent_.values[snmp::kSelfTestState] = k.self_test;
        MainPage(true);
        std::string expected = k.shown ? k.shown : "old";
        EXPECT_EQ(At(7, 25, static_cast<int>(expected.size())), expected)
            << "status " << k.status << ", self-test " << k.self_test;
    }
    EXPECT_EQ(At(9, 25, 11), "Stop       ");
    agent_.values[snmp::kSelfTestState] = "4";
    MainPage(true);
    EXPECT_EQ(At(9, 25, 11), "In Progress");

    for (auto [code, shown] : {std::pair{"1", "N/A         "}, {"2", "Normal  "}}) {
        agent_.values[snmp::kBatteryStatus] = code;
        MainPage(false);
        EXPECT_EQ(At(6, 25, static_cast<int>(std::string(shown).size())), shown) << code;
    }
    agent_.values[snmp::kBatteryStatus] = "7";  // no such state: the row stays
    MainPage(false);
    EXPECT_EQ(At(6, 25, 8), "Normal  ");
}

TEST_F(SnmpDraw, FailureCausesAndTemperature) {
    const char* causes[] = {"no transfer ", "high voltage", "brownout    ", "blackout    ",
                            "sag         ", "sag         ", "spike       ", "spike       "};
    for (int v = 1; v <= 8; ++v) {
        agent_.values[snmp::kLastFailureCause] = std::to_string(v);
        MainPage(true);
        EXPECT_EQ(At(16, 25, 12), causes[v - 1]) << v;
    }
    agent_.values[snmp::kLastFailureCause] = "9";
    MainPage(true);
    EXPECT_EQ(At(16, 25, 12), "spike       ");  // keeps its previous text
    agent_.values.erase(snmp::kLastFailureCause);
    MainPage(true);
    EXPECT_EQ(At(16, 25, 12), "N/A         ");

    agent_.values[snmp::kTemperature] = "0";  // 0 or below writes nothing
    MainPage(true);
    EXPECT_EQ(At(8, 25, 7), "25.0 C ");
    agent_.values[snmp::kTemperature] = "5";
    MainPage(true);
    EXPECT_EQ(At(8, 25, 13), "0.5 C        ");  // no tail of the longer reading before
}

TEST_F(SnmpDraw, NoOutputFrequencyMeansNoOutput) {
    agent_.values[snmp::kOutputVoltage] = "0";
    agent_.values[snmp::kOutputFrequency] = "0";
    MainPage(false);
    EXPECT_EQ(At(7, 63, 5), "0.0  ");
    EXPECT_EQ(data_.output_voltage, "0");
    EXPECT_EQ(screen_.StandoutMap(8), std::string(80, '.'));
    EXPECT_EQ(At(9, 42, 33), " 70   80   90  100  110  120  130");

    // The UPS reports a voltage but no frequency: still no output.
    agent_.values[snmp::kOutputVoltage] = "2300";
    MainPage(false);
    EXPECT_EQ(At(7, 63, 5), "0.0  ");
    EXPECT_EQ(screen_.StandoutMap(8), std::string(80, '.'));

    // A frequency the agent did not give says nothing about the output.
    agent_.values.erase(snmp::kOutputFrequency);
    MainPage(false);
    EXPECT_EQ(At(7, 63, 5), "230.0");
    EXPECT_EQ(data_.output_voltage, "230.0");
    EXPECT_EQ(screen_.StandoutMap(8).substr(43, 27), std::string(26, '#') + ".");

    agent_.values.erase(snmp::kOutputVoltage);
    MainPage(false);
    EXPECT_EQ(At(7, 63, 12), "N/A         ");
    EXPECT_EQ(data_.output_voltage, "N/A");
}

TEST_F(SnmpDraw, MissingMetersShowNAWithoutABar) {
    for (snmp::Obj o : {snmp::kOutputLoad, snmp::kBatteryCapacity, snmp::kInputFrequency}) {
        agent_.values.erase(o);
    }
    MainPage(false);
    EXPECT_EQ(At(11, 62, 12), "N/A         ");
    EXPECT_EQ(At(15, 62, 12), "N/A         ");
    EXPECT_EQ(At(19, 64, 12), "N/A         ");
    for (int row : {12, 16, 20}) EXPECT_EQ(screen_.StandoutMap(row), std::string(80, '.'));
    EXPECT_EQ(data_.load, "N/A");
    EXPECT_EQ(data_.input_frequency, "N/A");
}

TEST_F(SnmpDraw, TheSlowRowsAreReadOnEvery30thPassAndOnAFullRedraw) {
    MainPage(true);
    EXPECT_EQ(agent_.Reads(snmp::kTemperature), 1);
    EXPECT_EQ(agent_.Reads(snmp::kModel), 1);
    agent_.values[snmp::kTemperature] = "300";
    agent_.reads.clear();
    for (int pass = 1; pass <= 28; ++pass) MainPage(false);
    EXPECT_EQ(agent_.Reads(snmp::kTemperature), 0);
    // A main-page pass without the failure asks 8 objects.
    EXPECT_EQ(agent_.TotalReads(), 28 * 8);
    EXPECT_EQ(At(8, 25, 7), "25.0 C ");
    MainPage(false);  // the 30th pass since the counter started
    EXPECT_EQ(agent_.Reads(snmp::kTemperature), 1);
    EXPECT_EQ(At(8, 25, 7), "30.0 C ");
    EXPECT_EQ(state_.reps, 0);

    // A full redraw reads them at once and leaves the count alone.
    for (int pass = 1; pass <= 5; ++pass) MainPage(false);
    MainPage(true);
    EXPECT_EQ(agent_.Reads(snmp::kTemperature), 2);
    EXPECT_EQ(state_.reps, 6);
    for (int pass = 1; pass <= 24; ++pass) MainPage(false);
    EXPECT_EQ(agent_.Reads(snmp::kTemperature), 3);
}

TEST_F(SnmpDraw, AHostileAgentStaysInsideItsPanes) {
    const std::string huge(2000, 'x');
    std::string nasty = "\"" + std::string(1500, 'y') + "\x1b[2J\n\t" + "\"";
    for (auto& [object, value] : agent_.values) value = "\"" + huge + "\"";
    agent_.values[snmp::kName] = "\"N\x07\"";
    agent_.values[snmp::kModel] = "\"a\x1b[2Jb\"";
    agent_.values[snmp::kTemperature] = "2147483647";
    agent_.values[snmp::kTimeOnBattery] = "2147483647";
    agent_.values[snmp::kBatteryVoltage] = "-2147483648";
    agent_.values[snmp::kLineVoltage] = "0";
    agent_.values[snmp::kOutputLoad] = "99999999999999999999";
    MainPage(true);

    for (int row = 3; row <= 21; ++row) {
        EXPECT_EQ(screen_.Row(row)[0], '|') << "row " << row;
        EXPECT_EQ(screen_.Row(row)[38], '|') << "row " << row;
        EXPECT_EQ(screen_.Row(row)[39], '|') << "row " << row;
        EXPECT_EQ(screen_.Row(row)[78], '|') << "row " << row;
    }
    EXPECT_EQ(screen_.Row(22), "+" + std::string(37, '-') + "++" + std::string(38, '-') + "+ ");
    EXPECT_EQ(screen_.Row(23).substr(0, 8), " System:");
    // Control bytes are shown as blanks: an agent cannot move the cursor or clear the screen.
    EXPECT_EQ(At(0, 42, 38), "\"N \"\"a [2Jb\"" + std::string(26, ' '));
    EXPECT_EQ(At(8, 25, 13), "214748364.7 C");  // cut at the border
    EXPECT_EQ(At(11, 25, 13), "2147483647 Se");
    EXPECT_EQ(At(12, 25, 13), "-214748364.8 ");
    // Text where a number belongs counts as 0, as the C library's conversion takes it.
    EXPECT_EQ(At(16, 25, 13), std::string(13, ' '));
    EXPECT_EQ(At(11, 62, 10), "2147483647");
    EXPECT_EQ(screen_.StandoutMap(12).substr(43, 33), std::string(32, '#') + ".");

    // The "more" page with every value as long as the agent likes.
    Clear();
    for (const layout::InfoItem& item : layout::SNMPINFO_OID) agent_.values[item.object] = nasty;
    ScreenTwo(agent_.Reader());
    for (int row = 7; row <= 21; ++row) {
        EXPECT_EQ(screen_.Row(row)[0], '|') << "row " << row;
        EXPECT_EQ(screen_.Row(row)[38], '|') << "row " << row;
        EXPECT_EQ(screen_.Row(row)[78], '|') << "row " << row;
    }
    for (int row = 3; row <= 5; ++row) {
        EXPECT_EQ(screen_.Row(row)[78], '|') << "row " << row;
        EXPECT_EQ(At(row, 22, 56), "\"" + std::string(55, 'y')) << "row " << row;
    }
}

TEST_F(SnmpDraw, TheMorePageShowsWhatTheAgentHasInOrder) {
    const char* labels[] = {"System Contact    : ", "System Name       : ", "System Location   : ",
                            "Firmware rev.     : ", "Date Made         : ", "Serial #          : ",
                            "Agent Rev.        : ", "Batt. Replace Date: ", "Batt. Replace Flag: ",
                            "Batt. Current     : ", "Input Phase       : ", "Output Phase      : ",
                            "Devices Attached  : ", "Rated Output Volt.: ", "High Transfer Volt: ",
                            "Low Transfer Volt.: ", "Alarm Flag        : ", "Alarm Timer       : ",
                            "Min. Ret. Cap.    : ", "Sensitivity       : ", "Low Batt. Run Time: ",
                            "Return Delay      : ", "Diagnostics Sched.: ", "Last Diagnostics  : ",
                            "Calib. Results    : ", "Calib. Date       : "};
    agent_.values.clear();
    for (std::size_t i = 0; i < layout::SNMPINFO_OID.size(); ++i) {
        agent_.values[layout::SNMPINFO_OID[i].object] =
            "\"v" + std::to_string(i) + "\" and more printing";
    }
    ScreenTwo(agent_.Reader());

    const std::string hint = "[r]-Redraw, [b]-Back, [q]-Quit\t      ";
    Canvas c = TwoPanes(hint);
    for (int row = 3; row <= 6; ++row) c.Put(row, 38, std::string(13, ' '));
    auto item = [&](int i, int row, int label_col) {
        c.Put(row, label_col, labels[i]);
        c.Put(row, label_col + 20, "\"v" + std::to_string(i) + "\"");
    };
    for (int i = 0; i < 3; ++i) item(i, 3 + i, 2);
    for (int i = 4; i < 19; ++i) item(i, 3 + i, 2);
    for (int i = 19; i < 26; ++i) item(i, i - 12, 42);  // items 19 to 25 on rows 7 to 13
    c.Box(17, 79, 6, 0);
    item(3, 14, 42);  // the fourth item, whose row the frame takes, below the right column
    ExpectScreen(screen_, c);

    // Only the system group: the top rows, and nothing else but the frame.
    Clear();
    agent_.values.clear();
    agent_.values[snmp::kSysContact] = "\"ops\"";
    agent_.values[snmp::kSysName] = "\"ups-room\"";
    agent_.values[snmp::kSysLocation] = "\"basement\"";
    ScreenTwo(agent_.Reader());
    Canvas only = TwoPanes(hint);
    for (int row = 3; row <= 6; ++row) only.Put(row, 38, std::string(13, ' '));
    only.Put(3, 2, labels[0]).Put(3, 22, "\"ops\"");
    only.Put(4, 2, labels[1]).Put(4, 22, "\"ups-room\"");
    only.Put(5, 2, labels[2]).Put(5, 22, "\"basement\"");
    only.Box(17, 79, 6, 0);
    ExpectScreen(screen_, only);

    // A gap moves the later items up: the second shown item takes the second row.
    Clear();
    agent_.values.erase(snmp::kSysName);
    agent_.values[snmp::kSerialNumber] = "\"A123\"";
    agent_.values[snmp::kCalibrationDate] = "\"2001-02-03\"";
    ScreenTwo(agent_.Reader());
    EXPECT_EQ(At(4, 2, 30), "System Location   : \"basement\"");
    EXPECT_EQ(At(5, 2, 26), "Serial #          : \"A123\"");
    EXPECT_EQ(At(7, 42, 32), "Calib. Date       : \"2001-02-03\"");  // the fourth shown
    EXPECT_EQ(At(6, 0, 3), "+--");
}

TEST_F(SnmpDraw, TheNoDataScreenKeepsTheScheduleValues) {
    SNMPnoDATA(data_);
    Canvas c = TwoPanes("Type 'r' to Redraw, Type 'q' to Quit.");
    SnmpLeftLabels(c);
    for (int row : {5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16}) c.Put(row, 25, "N/A");
    RightTexts(c);
    for (auto [row, col] : {std::pair{3, 62}, {7, 63}, {11, 62}, {15, 62}, {19, 64}}) {
        c.Put(row, col, "N/A         ");
    }
    Schedule(c);
    ExpectScreen(screen_, c);
}
