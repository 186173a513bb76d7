#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "config.h"
#include "schedule_time.h"

namespace {

// The arithmetic works in local time; pin it to UTC so that the moments below are exact.
class ScheduleTime : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        UpsConfig c;
        InitConfig(&c, &week_);
    }

    static int64_t At(int year, int month, int day, int hour, int minute, int second = 0) {
        struct tm t {};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        return static_cast<int64_t>(timegm(&t));
    }

    WeekSchedule week_{};
    int64_t next_ = 0;
    int32_t restart_ = 0;
    int32_t day_ = 0;
};

constexpr int kSunday = 0, kMonday = 1, kTuesday = 2, kFriday = 5;

}  // namespace

TEST_F(ScheduleTime, TimeDifWrapsForwardAcrossTheWeek) {
    int32_t hours[7] = {-1, 1, -1, -1, -1, -1, -1};
    int32_t minutes[7] = {-1, 30, -1, -1, -1, -1, -1};
    int32_t out = -9;
    // Friday 23:00 to Monday 01:30.
    EXPECT_EQ(TimeDif(kFriday, 23, 0, hours, minutes, &out), 3030);
    EXPECT_EQ(out, kMonday);
    // Monday before, at and after the set minute.
    EXPECT_EQ(TimeDif(kMonday, 1, 0, hours, minutes, &out), 30);
    EXPECT_EQ(TimeDif(kMonday, 1, 30, hours, minutes, &out), 10080);
    EXPECT_EQ(TimeDif(kMonday, 1, 31, hours, minutes, &out), 10079);
    EXPECT_EQ(out, kMonday);

    int32_t none[7] = {-1, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(TimeDif(kTuesday, 12, 0, none, none, &out), -1);
    EXPECT_EQ(out, kTuesday);  // the last day probed
}

TEST_F(ScheduleTime, ShutdownNowIsAWeekAwayOnAWholeMinute) {
    // Monday 7 December 2026, 22:00:42.
    int64_t now = At(2026, 12, 7, 22, 0, 42);
    week_.day[kMonday].shutdown_hour = 22;
    week_.day[kMonday].shutdown_minute = 0;
    CalcSchdlTimeAt(now, &week_, &next_, &restart_, &day_, &day_, 3.0f);
    EXPECT_EQ(next_, At(2026, 12, 14, 22, 0));
    EXPECT_EQ(restart_, -1);  // no restart set anywhere
    EXPECT_EQ(day_, -1);
}

TEST_F(ScheduleTime, RestartMinutesLessTheTurnOffDelayOfAtLeastAMinute) {
    int64_t now = At(2026, 12, 7, 12, 0);  // Monday noon
    week_.day[kMonday].shutdown_hour = 22;
    week_.day[kMonday].shutdown_minute = 0;
    week_.day[kTuesday].restart_hour = 7;
    week_.day[kTuesday].restart_minute = 0;
    int32_t shutdown_day = -5, restart_day = -5;
    CalcSchdlTimeAt(now, &week_, &next_, &restart_, &shutdown_day, &restart_day, 3.0f);
    EXPECT_EQ(next_, At(2026, 12, 7, 22, 0));
    EXPECT_EQ(restart_, 537);
    EXPECT_EQ(shutdown_day, kMonday);
    EXPECT_EQ(restart_day, kTuesday);

    CalcSchdlTimeAt(now, &week_, &next_, &restart_, &shutdown_day, &restart_day, 0.2f);
    EXPECT_EQ(restart_, 539);
    CalcSchdlTimeAt(now, &week_, &next_, &restart_, &shutdown_day, &restart_day, 2.5f);
    EXPECT_EQ(restart_, 537);  // 537.5 truncated toward zero
}

TEST_F(ScheduleTime, ARestartInsideTheTurnOffDelayIsStillARestart) {
    // Restart two minutes after the shutdown, turn-off delay three: the UPS goes off a minute
    // after it should be back. It must come back as soon as it can (one minute), neither at
    // once (R0000) nor never (-1 reads as "no restart").
    int64_t now = At(2026, 12, 7, 12, 0);
    week_.day[kMonday].shutdown_hour = 22;
    week_.day[kMonday].shutdown_minute = 0;
    week_.day[kMonday].restart_hour = 22;
    week_.day[kMonday].restart_minute = 2;
    for (float delay : {3.0f, 2.5f, 10.0f}) {
        CalcSchdlTimeAt(now, &week_, &next_, &restart_, &day_, &day_, delay);
        EXPECT_EQ(restart_, 1) << delay;
    }
}

TEST_F(ScheduleTime, RestartAtTheShutdownMinuteIsAWeekLater) {
    int64_t now = At(2026, 12, 6, 9, 0);  // Sunday
    week_.day[kSunday].shutdown_hour = 10;
    week_.day[kSunday].shutdown_minute = 15;
    week_.day[kSunday].restart_hour = 10;
    week_.day[kSunday].restart_minute = 15;
    CalcSchdlTimeAt(now, &week_, &next_, &restart_, &day_, &day_, 1.0f);
    EXPECT_EQ(next_, At(2026, 12, 6, 10, 15));
    EXPECT_EQ(restart_, 10080 - 1);
}

TEST_F(ScheduleTime, NoShutdownLeavesTheRestartOfThePreviousCall) {
    restart_ = 1234;
    CalcSchdlTimeAt(At(2026, 12, 8, 8, 0), &week_, &next_, &restart_, &day_, &day_, 3.0f);
    EXPECT_EQ(next_, -1);
    EXPECT_EQ(day_, -1);
    EXPECT_EQ(restart_, 1234);
}

TEST_F(ScheduleTime, StaysRightPast2038) {
    // Friday 2 March 2040, 23:00; the shutdown is Monday 01:30.
    int64_t now = At(2040, 3, 2, 23, 0);
    ASSERT_GT(now, int64_t{INT32_MAX});
    week_.day[kMonday].shutdown_hour = 1;
    week_.day[kMonday].shutdown_minute = 30;
    CalcSchdlTimeAt(now, &week_, &next_, &restart_, &day_, &day_, 3.0f);
    EXPECT_EQ(next_, At(2040, 3, 5, 1, 30));
    EXPECT_EQ(next_ - now, 3030 * 60);
}
