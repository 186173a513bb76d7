#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "screen_data.h"

namespace {

ScreenData Fresh() {
    ScreenData d;
    InitScreenData(d);
    return d;
}

void ExpectAllReadingsNA(const ScreenData& d) {
    for (std::string_view f :
         {d.input_voltage.view(), d.fault_voltage.view(), d.output_voltage.view(), d.load.view(),
          d.input_frequency.view(), d.battery_voltage.view(), d.temperature.view(),
          d.input_ac.view(), d.battery_state.view(), d.boost_buck.view(), d.ups_fault.view(),
          d.ups_type.view(), d.self_test.view()}) {
        EXPECT_EQ(f, "N/A");
    }
}

}  // namespace

TEST(GetFromQ1, TakesEveryFieldOfAGoodLine) {
    ScreenData d = Fresh();
    GetFromQ1(d, "(230.4 190.0 229.8 023 50.1 13.6 25.0 10000000");
    EXPECT_EQ(d.input_voltage, "230.4");
    EXPECT_EQ(d.fault_voltage, "190.");  // kept in its five bytes, never shown
    EXPECT_EQ(d.output_voltage, "229.8");
    EXPECT_EQ(d.load, " 23");
    EXPECT_EQ(d.input_frequency, "50.1");
    EXPECT_EQ(d.battery_voltage, "13.6");
    EXPECT_EQ(d.temperature, "25.0");
    EXPECT_EQ(d.input_ac, "AC FAILS");
    EXPECT_EQ(d.battery_state, "Normal  ");
    EXPECT_EQ(d.boost_buck, "OFF");
    EXPECT_EQ(d.ups_fault, "Normal");
    EXPECT_EQ(d.ups_type, "On Line");
    EXPECT_EQ(d.self_test, "Stop       ");
}

TEST(GetFromQ1, ReadsEachStatusBit) {
    ScreenData d = Fresh();
    GetFromQ1(d, "(230.0 230.0 230.0 000 50.0 2.27 25.0 01111100");
    EXPECT_EQ(d.load, "  0");
    EXPECT_EQ(d.input_ac, "Normal  ");
    EXPECT_EQ(d.battery_state, "BAT. LOW");
    EXPECT_EQ(d.boost_buck, "ON ");
    EXPECT_EQ(d.ups_fault, "FAILED");
    EXPECT_EQ(d.ups_type, "Standby");
    EXPECT_EQ(d.self_test, "In Progress");
}

TEST(GetFromQ1, AWrongWidthLeavesJustThatFieldNA) {
    ScreenData d = Fresh();
    GetFromQ1(d, "(230.45 190.0 229.8 23 50.1 13.6 25.0 1000000");
    EXPECT_EQ(d.input_voltage, "N/A");
    EXPECT_EQ(d.output_voltage, "229.8");
    EXPECT_EQ(d.load, "N/A");
    EXPECT_EQ(d.input_frequency, "50.1");
    EXPECT_EQ(d.input_ac, "N/A");  // seven status bits: all six states unknown
    EXPECT_EQ(d.ups_type, "N/A");
}

TEST(GetFromQ1, BrokenLinesShowNAAndNeverOverrun) {
    for (std::string line :
         {std::string(), std::string(47, ' '), std::string("(((( \r\n"),
          std::string("(230.0 230.0"),
          std::string("(2\x1b[2J 230.0 230.0 0\x07\x08 50.0 2.27 25.0 0000100\x01"),
          std::string("(abcde fghij klmno pqr stuv wxyz abcd efghijkl"),
          std::string("(230.0 230.0 230.0 021 50.0 2.27 25.0 00002001"),
          std::string(300, '\xff')}) {
        ScreenData d = Fresh();
        GetFromQ1(d, line);
        if (line == "(230.0 230.0") {
            EXPECT_EQ(d.input_voltage, "230.0");
            EXPECT_EQ(d.output_voltage, "N/A");
            continue;
        }
        if (line.rfind("(230.0 230.0 230.0 021", 0) == 0) {
            EXPECT_EQ(d.load, " 21");
            EXPECT_EQ(d.input_ac, "N/A") << "a status bit other than 0 or 1 is garbage";
            continue;
        }
        if (line.rfind("(2\x1b", 0) == 0) {
            EXPECT_EQ(d.input_voltage, "N/A");
            EXPECT_EQ(d.load, "N/A");
            EXPECT_EQ(d.input_frequency, "50.0");
            EXPECT_EQ(d.input_ac, "N/A");
            continue;
        }
        ExpectAllReadingsNA(d);
    }
}

TEST(GetFromQ1, ANulEndsTheLine) {
    ScreenData d = Fresh();
    GetFromQ1(d, std::string("(230.0\0 230.0 230.0 021", 23));
    EXPECT_EQ(d.input_voltage, "230.0");
    EXPECT_EQ(d.output_voltage, "N/A");
}

TEST(GetFromF, ParsesTheRatingAndRejectsBrokenTokens) {
    ScreenData d = Fresh();
    GetFromF(d, "#230.0 004 24.00 50.0");
    EXPECT_EQ(d.rating_voltage, "230.0");
    EXPECT_EQ(d.rating_current, "  4");
    EXPECT_EQ(d.battery_rating, "24.00");
    EXPECT_EQ(d.rating_frequency, "50.0");

    ScreenData broken = Fresh();
    GetFromF(broken, "#23O.0 04 24.000 5\x01.0");
    EXPECT_EQ(broken.rating_voltage, "N/A");
    EXPECT_EQ(broken.rating_current, "N/A");
    EXPECT_EQ(broken.battery_rating, "N/A");
    EXPECT_EQ(broken.rating_frequency, "N/A");
}

TEST(GetFromI, TakesTheTextAfterTheHashPrintableOnly) {
    ScreenData d = Fresh();
    GetFromI(d, "#Stavlen         SIM-1000   1.0       ");
    EXPECT_EQ(d.model, "Stavlen         SIM-1000   1.0       ");
    GetFromI(d, "#Stav\x1b[31mlen" + std::string(100, 'x'));
    EXPECT_EQ(d.model.view().size(), 37u);
    EXPECT_EQ(d.model.view().substr(0, 12), "Stav [31mlen");
}

TEST(InitScreenData, KeepsTheConfigurationAndANumericBatteryRating) {
    ScreenData d;
    d.battery_rating = "24.0";
    d.acfail_delay = " 5.0";
    d.model = "old";
    InitScreenData(d);
    EXPECT_EQ(d.battery_rating, "24.0");
    EXPECT_EQ(d.acfail_delay, " 5.0");
    EXPECT_EQ(d.model, "");
    d.battery_rating = "x";
    InitScreenData(d);
    EXPECT_EQ(d.battery_rating, "N/A");
}

TEST(BatteryLevel, StandbyUsesTheRatingOthersACell) {
    auto level = [](const char* type, const char* rating, const char* volts) {
        ScreenData d = Fresh();
        d.ups_type = type;
        d.battery_rating = rating;
        d.battery_voltage = volts;
        return std::pair{BatteryLevel(d), std::string(d.battery_rating.view())};
    };
    char text[8];
    auto shown = [&](float v) {
        std::snprintf(text, sizeof text, "%3.0f", static_cast<double>(v));
        return std::string(text);
    };
    EXPECT_EQ(shown(level("Standby", "12.00", "13.3").first), " 99");
    EXPECT_EQ(shown(level("Standby", "12.00", "10.0").first), "  0");
    auto [cell, rating] = level("On Line", "24.00", "2.25");
    EXPECT_EQ(shown(cell), "100");
    EXPECT_EQ(rating, "2.0");
    EXPECT_EQ(BatteryBar(cell), 26);
    EXPECT_EQ(BatteryBar(level("Standby", "12.00", "10.0").first), 0);  // level 0: no bar
    EXPECT_EQ(level("N/A", "24.00", "2.25").second, "2.0");

    EXPECT_LT(level("Standby", "N/A", "13.3").first, 0);
    EXPECT_LT(level("Standby", "12.00", "N/A").first, 0);
    // A zero rating leaves no range to measure in: no level rather than a division by zero.
    EXPECT_LT(level("Standby", "00.00", "13.3").first, 0);
}

TEST(Bars, LengthsInColumns) {
    EXPECT_EQ(VoltageBar("230.0"), 26);
    EXPECT_EQ(VoltageBar("110.0"), 21);
    EXPECT_EQ(VoltageBar("135.0"), 0);
    EXPECT_EQ(VoltageBar("136.0"), 0);
    EXPECT_EQ(VoltageBar("N/A"), 0);
    EXPECT_EQ(LoadBar("125"), 32);
    EXPECT_EQ(LoadBar("130"), 32);
    EXPECT_EQ(LoadBar("  0"), 1);
    EXPECT_EQ(LoadBar(" 23"), 6);
    EXPECT_EQ(LoadBar("N/A"), 0);
    EXPECT_EQ(FrequencyBar("50.0"), 13);
    EXPECT_EQ(FrequencyBar("999.9"), 27);  // cut to 105 Hz
    EXPECT_EQ(BatteryBar(-1), 0);
}

TEST(Bars, VoltagesPastTheScaleStopAtTheEdgeOfTheMeter) {
    EXPECT_EQ(VoltageBar("244.0"), 33);  // the last column of the scale
    EXPECT_EQ(VoltageBar("256.0"), 33);
    EXPECT_EQ(VoltageBar("300.0"), 33);
    EXPECT_EQ(VoltageBar("99999."), 33);
    EXPECT_EQ(VoltageBar("134.0"), 33);  // the top of the 70 V scale fills the meter exactly
}

TEST(AcfailDelayText, FourColumnsAlways) {
    EXPECT_EQ(AcfailDelayText(5), " 5.0");
    EXPECT_EQ(AcfailDelayText(60), "60.0");
    EXPECT_EQ(AcfailDelayText(120), " 120");
    EXPECT_EQ(AcfailDelayText(1440), "1440");
    EXPECT_EQ(AcfailDelayText(9999), "9999");
    EXPECT_EQ(AcfailDelayText(10000), "****");
    EXPECT_EQ(AcfailDelayText(32767), "****");
    EXPECT_EQ(AcfailDelayText(-5), "-5.0");
    EXPECT_EQ(AcfailDelayText(-32768), "****");
}

class FromConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        InitConfig(&config_, &week_);
        InitScreenData(data_);
    }
    static int64_t At(int year, int month, int day, int hour, int minute) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        return static_cast<int64_t>(timegm(&t));
    }
    UpsConfig config_{};
    WeekSchedule week_{};
    ScreenData data_;
    int flag_ = 0;
};

TEST_F(FromConfig, DefaultsShowNoSchedule) {
    GetFromConfigAt(data_, config_, week_, At(2024, 1, 1, 21, 58), flag_);
    EXPECT_EQ(data_.comport, "/dev/ttyS1");
    EXPECT_EQ(data_.countdown, "ON ");
    EXPECT_EQ(data_.scheduling, "OFF");
    EXPECT_EQ(data_.acfail_delay, " 5.0");
    EXPECT_EQ(data_.turnoff_delay, " 3.0");
    EXPECT_EQ(data_.next_shutdown, "---  --:--");
    EXPECT_EQ(data_.next_restart, "---  --:--");
    EXPECT_EQ(data_.shutdown_pending, "NO ");
    EXPECT_EQ(data_.battery_rating, "N/A");  // a rating of 0.0 is not shown
    EXPECT_EQ(flag_, 0);
}

TEST_F(FromConfig, AShutdownWithinTheAcFailDelayIsPending) {
    config_.schedule_on = 1;
    config_.battery_rating = 24.0f;
    SetConfigText(config_.comport, "/dev/a-very-long-serial-device");
    week_.day[1].shutdown_hour = 22;  // Monday 22:00
    week_.day[1].shutdown_minute = 0;
    week_.day[2].restart_hour = 7;  // Tuesday 07:05
    week_.day[2].restart_minute = 5;
    // 2024-01-01 was a Monday.
    GetFromConfigAt(data_, config_, week_, At(2024, 1, 1, 21, 58), flag_);
    EXPECT_EQ(data_.next_shutdown, "Mon. 22:00");
    EXPECT_EQ(data_.next_restart, "Tue. 07:05");
    EXPECT_EQ(data_.shutdown_pending, "YES");
    EXPECT_EQ(data_.battery_rating, "24.0");
    EXPECT_EQ(data_.comport, "/dev/a-very-lon");
    EXPECT_EQ(flag_, 1);

    flag_ = 0;
    GetFromConfigAt(data_, config_, week_, At(2024, 1, 1, 21, 50), flag_);
    EXPECT_EQ(data_.shutdown_pending, "NO ");
    EXPECT_EQ(flag_, 0);

    config_.turnoff_ups = 0;  // the UPS stays on: there is no restart to show
    GetFromConfigAt(data_, config_, week_, At(2024, 1, 1, 21, 50), flag_);
    EXPECT_EQ(data_.next_restart, "---  --:--");

    config_.schedule_on = 0;
    GetFromConfigAt(data_, config_, week_, At(2024, 1, 1, 21, 58), flag_);
    EXPECT_EQ(data_.next_shutdown, "---  --:--");
    EXPECT_EQ(flag_, 0);
}

TEST_F(FromConfig, HandEditedValuesStayWithinTheirFields) {
    config_.acfail_delay = 20000;
    config_.turnoff_delay = 1e30f;
    config_.countdown_on = 7;
    data_.countdown = "ON ";
    config_.schedule_on = 1;
    week_.day[1].shutdown_hour = 123456789;
    week_.day[1].shutdown_minute = -5;
    GetFromConfigAt(data_, config_, week_, At(2024, 1, 1, 21, 58), flag_);
    EXPECT_EQ(data_.acfail_delay, "****");
    EXPECT_EQ(data_.turnoff_delay.view().size(), 4u);
    EXPECT_EQ(data_.countdown, "ON ");  // neither 0 nor 1: the text stays
    EXPECT_EQ(data_.next_shutdown.view().size(), 10u);
}
