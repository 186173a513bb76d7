#include <gtest/gtest.h>

#include <string>

#include "expected_screens.h"
#include "screen.h"
#include "screen_data.h"
#include "status_draw.h"
#include "virtual_screen.h"

namespace {

// The frame, title and footer every serial-mode pass draws; the clock row is checked apart.
Canvas Frame(std::string_view model) {
    Canvas c;
    c.Box(21, 39, 2, 0);
    c.Box(21, 40, 2, 39);
    c.Put(0, 1, "(Kelvora) UPS Status Screen, Ver. 2.1");
    c.Put(0, 42, model);
    c.Put(23, 1, "System:");
    c.Put(23, 9, SystemText());
    c.Put(23, 41, "Type 'r' to Redraw, Type 'q' to Quit.");
    return c;
}

void LeftLabels(Canvas& c) {
    c.Put(3, 3, "UPS Type          :");
    c.Put(4, 3, "UPS Rating Voltage:       Volt");
    c.Put(5, 3, "UPS Rating Current:       Amp");
    c.Put(6, 3, "UPS Line Frequency:       Hz");
    c.Put(7, 3, "Communication Port:");
    c.Put(9, 3, "   Input AC Power :");
    c.Put(10, 3, "   Battery Status :");
    c.Put(11, 3, "   UPS Functioning:");
    c.Put(12, 3, "   Boost/Buck     :");
    c.Put(13, 3, "   UPS Temperature:      C");
    c.Put(14, 3, "   UPS Self-Test  :");
    c.Put(16, 3, "Count Down Function:");
    c.Put(17, 3, "Scheduling Function:");
    c.Put(18, 3, "Next Shutdown Time : ---  --:--");
    c.Put(19, 3, "Next Restart  Time : ---  --:--");
    c.Put(20, 3, "ACfail Shutdown Delay:      Min.");
    c.Put(21, 3, "UPS Turn Off Delay   :      Min.");
}

void Config(Canvas& c) {
    c.Put(16, 24, "ON ");
    c.Put(17, 24, "OFF");
    c.Put(18, 24, "---  --:--");
    c.Put(19, 24, "---  --:--");
    c.Put(20, 26, " 5.0");
    c.Put(21, 26, " 3.0");
}

class StatusDraw : public ::testing::Test {
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

    void ExpectScreen(const Canvas& expected) { ::ExpectScreen(screen_, expected); }

    VirtualScreen screen_;
    ScreenData data_;
    DrawState state_;
};

}  // namespace

TEST_F(StatusDraw, AFailingUtilityOnAWholeScreen) {
    GetFromQ1(data_, "(230.4 190.0 229.8 023 50.1 13.6 25.0 10000000");
    GetFromI(data_, "#Stavlen         SIM-1000   1.0       ");
    GetFromF(data_, "#230.0 004 24.00 50.0");
    DrawScreen(data_, 0, true, state_);

    Canvas c = Frame("Stavlen         SIM-1000   1.0       ");
    LeftLabels(c);
    c.Put(3, 23, "On Line");
    c.Put(4, 23, "230.0");
    c.Put(5, 23, "  4");
    c.Put(6, 23, "        ");
    c.Put(6, 24, "50.0");
    c.Put(6, 29, "Hz");
    c.Put(7, 23, "/dev/ttyS1");
    c.Put(9, 23, "AC FAILS");
    c.Put(10, 23, "Normal  ");
    c.Put(11, 23, "Normal");
    c.Put(12, 23, "OFF");
    c.Put(13, 23, "25.0");
    c.Put(14, 23, "Stop       ");
    c.Put(15, 4, "<<System is About to Shut Down>>");
    Config(c);
    RightTexts(c);
    c.Put(3, 62, "230.4");
    c.Put(4, 43, std::string(26, ' '));  // (230 - 180) / 2 + 1 columns
    c.Put(5, 42, "180  190  200  210  220  230  240");
    c.Put(7, 63, "229.8");
    c.Put(8, 43, std::string(25, ' '));
    c.Put(9, 42, "180  190  200  210  220  230  240");
    c.Put(11, 62, " 23");
    c.Put(12, 43, std::string(6, ' '));
    c.Put(15, 62, "100");  // a cell voltage of 13.6 is clamped to the top of the range
    c.Put(16, 43, std::string(26, ' '));
    c.Put(19, 64, "50.1");
    c.Put(20, 43, std::string(13, ' '));
    ExpectScreen(c);

    EXPECT_EQ(screen_.StandoutMap(4),
              std::string(43, '.') + std::string(26, '#') + std::string(11, '.'));
    EXPECT_EQ(screen_.StandoutMap(20),
              std::string(43, '.') + std::string(13, '#') + std::string(24, '.'));
    EXPECT_TRUE(screen_.Standout(9, 23));
    EXPECT_TRUE(screen_.Standout(15, 4));
    EXPECT_FALSE(screen_.Standout(10, 23));

    // The alarm and the banner blink: plain on the next pass, in standout on the one after.
    DrawScreen(data_, 0, true, state_);
    EXPECT_FALSE(screen_.Standout(9, 23));
    EXPECT_FALSE(screen_.Standout(15, 4));
    EXPECT_EQ(screen_.Row(15).substr(4, 32), "<<System is About to Shut Down>>");
    DrawScreen(data_, 0, true, state_);
    EXPECT_TRUE(screen_.Standout(9, 23));
}

TEST_F(StatusDraw, WithoutADaemonThereIsNoBanner) {
    GetFromQ1(data_, "(230.4 190.0 229.8 023 50.1 13.6 25.0 11000000");
    DrawScreen(data_, 1, false, state_);
    EXPECT_EQ(screen_.Row(15).substr(0, 38), "|" + std::string(37, ' '));
    DrawScreen(data_, 0, true, state_);
    EXPECT_EQ(screen_.Row(15).substr(4, 32), "<<System is About to Shut Down>>");
    // A scheduled shutdown close at hand is enough on its own.
    InitScreenData(data_);
    GetFromQ1(data_, "(230.4 190.0 229.8 023 50.1 13.6 25.0 00000000");
    DrawScreen(data_, 1, true, state_);
    EXPECT_EQ(screen_.Row(15).substr(4, 32), "<<System is About to Shut Down>>");
}

TEST_F(StatusDraw, NoStatusShowsNAAndWipesWhatWasThere) {
    GetFromQ1(data_, "(230.4 190.0 229.8 023 50.1 13.6 25.0 00101001");
    GetFromI(data_, "#Stavlen         SIM-1000   1.0       ");
    GetFromF(data_, "#230.0 004 24.00 50.0");
    DrawScreen(data_, 0, true, state_);
    InitScreenData(data_);
    data_.battery_rating = "N/A";
    DrawScreen(data_, 0, true, state_);

    Canvas c = Frame("Stavlen         SIM-1000   1.0       ");  // the model text stays on screen
    LeftLabels(c);
    c.Put(3, 23, "N/A    ");
    c.Put(4, 23, "N/A       ");  // seven blanks from column 26 wipe "Volt"
    c.Put(5, 23, "N/A      ");
    c.Put(6, 23, "N/A     ");
    c.Put(7, 23, "/dev/ttyS1");
    c.Put(9, 23, "N/A     ");
    c.Put(10, 23, "N/A     ");
    c.Put(11, 23, "N/A   ");
    c.Put(12, 23, "N/A");
    c.Put(13, 23, "N/A   ");
    c.Put(14, 23, "N/A        ");
    Config(c);
    RightTexts(c);
    c.Put(3, 62, "N/A       ");
    c.Put(7, 63, "N/A       ");
    c.Put(11, 62, "N/A ");
    c.Put(15, 62, "N/A ");
    c.Put(19, 64, "N/A    ");
    ExpectScreen(c);
    for (int row : {4, 8, 12, 16, 20}) EXPECT_EQ(screen_.StandoutMap(row), std::string(80, '.'));
}

TEST_F(StatusDraw, BarsStopAtTheEdgeOfTheMeter) {
    GetFromQ1(data_, "(300.0 190.0 999.9 999 99.9 13.6 25.0 00000000");
    DrawScreen(data_, 0, false, state_);
    for (int row : {4, 8}) {
        EXPECT_EQ(screen_.StandoutMap(row), std::string(43, '.') + std::string(33, '#') + "....")
            << "row " << row;
        EXPECT_EQ(screen_.Row(row)[78], '|');
    }
    EXPECT_EQ(screen_.StandoutMap(12),
              std::string(43, '.') + std::string(32, '#') + std::string(5, '.'));
    EXPECT_EQ(screen_.StandoutMap(20),
              std::string(43, '.') + std::string(25, '#') + std::string(12, '.'));
}

TEST_F(StatusDraw, TextNeverWrapsPastTheRightEdge) {
    PutText(5, 70, std::string(40, 'x'));
    EXPECT_EQ(screen_.Row(5).substr(70), std::string(10, 'x'));
    EXPECT_EQ(screen_.Row(6), std::string(80, ' '));
    PutText(24, 0, "off the screen");
    PutText(3, -1, "off the screen");
    PutText(3, 80, "off the screen");
    EXPECT_EQ(screen_.Row(3), std::string(80, ' '));
}
