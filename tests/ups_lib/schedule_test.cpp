// The schedule: next-occurrence rules with an injected "now", the archive form and its
// registry storage.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_support.h"
#include "ups_lib/reg_serial.h"
#include "ups_lib/schedule.h"
#include "ups_lib/trace.h"

namespace ups {
namespace {

namespace fs = std::filesystem;
using test::Local;
using test::ScopedTz;
using test::TempDir;

std::uint32_t U(std::int64_t t) {
    return static_cast<std::uint32_t>(t);
}

class ScheduleTime : public ::testing::TestWithParam<const char*> {
  protected:
    ScopedTz tz_{GetParam()};
};

TEST_P(ScheduleTime, OnceOnlyInThePastIsNeverReturned) {
    CSchedule s;
    s.Add({kShutdown, kOnce, 0, U(Local(2024, 5, 1, 12, 0))});
    CScheduleDetail out;
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 5, 1, 12, 0, 1)), 0);
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 5, 1, 12, 0)), Local(2024, 5, 1, 12, 0));
}

TEST_P(ScheduleTime, DailyBeforeAndAfterTheHour) {
    CSchedule s;
    s.Add({kShutdown, kDaily, 0, U(Local(2024, 6, 7, 22, 0))});
    CScheduleDetail out;
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 6, 10, 21, 59)), Local(2024, 6, 10, 22, 0));
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 6, 10, 22, 0)), Local(2024, 6, 10, 22, 0));
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 6, 10, 22, 0, 1)), Local(2024, 6, 11, 22, 0));
    EXPECT_EQ(out.frequency, kDaily);
    // Set years ago: still today's hour.
    CSchedule old;
    old.Add({kShutdown, kDaily, 0, U(Local(2001, 1, 1, 22, 0))});
    EXPECT_EQ(old.NextTime(kShutdown, out, Local(2024, 6, 10, 23, 0)), Local(2024, 6, 11, 22, 0));
}

TEST_P(ScheduleTime, DailyKeepsTheWallClockAcrossSummerTime) {
    // In a zone with summer time, "daily at 22:00" set in March stays at 22:00 in April.
    CSchedule s;
    s.Add({kShutdown, kDaily, 0, U(Local(2024, 3, 28, 22, 0))});
    CScheduleDetail out;
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 4, 2, 12, 0)), Local(2024, 4, 2, 22, 0));
    s.RemoveAll();
    s.Add({kShutdown, kWeekly, 0, U(Local(2024, 10, 20, 6, 30))});
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 10, 28, 0, 0)), Local(2024, 11, 3, 6, 30));
}

TEST_P(ScheduleTime, MonthlyOnThe31stFallsOnTheLastDay) {
    CSchedule s;
    s.Add({kSelfTest, kMonthly, 10, U(Local(2023, 1, 31, 9, 15))});
    CScheduleDetail out;
    EXPECT_EQ(s.NextTime(kSelfTest, out, Local(2023, 2, 1, 0, 0)), Local(2023, 2, 28, 9, 15));
    EXPECT_EQ(out.testLength, 10);
    // After February, back to the 31st, not the 28th.
    EXPECT_EQ(s.NextTime(kSelfTest, out, Local(2023, 3, 1, 0, 0)), Local(2023, 3, 31, 9, 15));
    EXPECT_EQ(s.NextTime(kSelfTest, out, Local(2023, 4, 1, 0, 0)), Local(2023, 4, 30, 9, 15));
    // A leap year has February 29.
    CSchedule leap;
    leap.Add({kSelfTest, kMonthly, 0, U(Local(2024, 1, 31, 9, 15))});
    EXPECT_EQ(leap.NextTime(kSelfTest, out, Local(2024, 2, 1, 0, 0)), Local(2024, 2, 29, 9, 15));
    // Century rules: 2100 is common, 2000 was leap (the latter within 32-bit time).
    EXPECT_EQ(DaysInMonth(2100, 1), 28);
    EXPECT_EQ(DaysInMonth(2000, 1), 29);
    CSchedule y2000;
    y2000.Add({kSelfTest, kMonthly, 0, U(Local(2000, 1, 30, 8, 0))});
    EXPECT_EQ(y2000.NextTime(kSelfTest, out, Local(2000, 2, 2, 0, 0)), Local(2000, 2, 29, 8, 0));
}

TEST_P(ScheduleTime, EverySecondMonthCarriesAcrossDecember) {
    CSchedule s;
    s.Add({kShutdown, kEverySecondMonth, 0, U(Local(2023, 11, 30, 23, 0))});
    CScheduleDetail out;
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2023, 12, 15, 0, 0)), Local(2024, 1, 30, 23, 0));
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 1, 31, 0, 0)), Local(2024, 3, 30, 23, 0));
    // From December 31 the second month after is February: its last day.
    CSchedule dec;
    dec.Add({kShutdown, kEverySecondMonth, 0, U(Local(2023, 12, 31, 23, 0))});
    EXPECT_EQ(dec.NextTime(kShutdown, out, Local(2024, 1, 5, 0, 0)), Local(2024, 2, 29, 23, 0));
    // Many years of steps still land on the entry's own rhythm (even months from December).
    CSchedule old;
    old.Add({kShutdown, kEverySecondMonth, 0, U(Local(2015, 12, 31, 23, 0))});
    EXPECT_EQ(old.NextTime(kShutdown, out, Local(2024, 1, 5, 0, 0)), Local(2024, 2, 29, 23, 0));
    EXPECT_EQ(old.NextTime(kShutdown, out, Local(2024, 3, 1, 0, 0)), Local(2024, 4, 30, 23, 0));
}

TEST_P(ScheduleTime, EarliestEntryOfTheEventWins) {
    CSchedule s;
    s.Add({kShutdown, kOnce, 0, U(Local(2024, 6, 10, 23, 0))});
    s.Add({kShutdown, kDaily, 0, U(Local(2024, 6, 1, 22, 0))});
    s.Add({kSelfTest, kOnce, -1, U(Local(2024, 6, 10, 20, 0))});
    s.Add({kSwitchOn, kOnce, 0, U(Local(2024, 6, 10, 21, 0))});
    CScheduleDetail out;
    EXPECT_EQ(s.NextTime(kShutdown, out, Local(2024, 6, 10, 12, 0)), Local(2024, 6, 10, 22, 0));
    EXPECT_EQ(out, CScheduleDetail(kShutdown, kDaily, 0, U(Local(2024, 6, 1, 22, 0))));
    EXPECT_EQ(s.NextTime(kSelfTest, out, Local(2024, 6, 10, 12, 0)), Local(2024, 6, 10, 20, 0));
    EXPECT_EQ(out.testLength, -1);
}

// POSIX rules rather than zone names, so the tests need no time-zone database: Central Europe
// and the US East with their summer-time rules, Taipei without one.
INSTANTIATE_TEST_SUITE_P(Zones, ScheduleTime,
                         ::testing::Values("UTC0", "CET-1CEST,M3.5.0,M10.5.0/3",
                                           "EST5EDT,M3.2.0,M11.1.0", "CST-8"));

TEST(Schedule, EmptyScheduleHasNothingAhead) {
    CSchedule s;
    CScheduleDetail out(9, 9, 9, 9);
    for (std::uint16_t ev : {kSwitchOn, kShutdown, kSelfTest})
        EXPECT_EQ(s.NextTime(ev, out, 1000), 0);
    EXPECT_EQ(out, CScheduleDetail(9, 9, 9, 9));  // untouched
    EXPECT_EQ(s.NextShutdown(out), 0);
}

TEST(Schedule, ArchiveFormIsCountThenEntries) {
    CSchedule s;
    s.Add({kSelfTest, kWeekly, -1, 0x01020304});
    s.Add({kShutdown, kEverySecondMonth, 0, 0xA0B0C0D0});
    const auto bytes = ToBytes(s);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{
                         2, 0, 0, 0,                                               //
                         2, 0, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4,    3,    2,    1,  //
                         1, 0, 4, 0, 0,    0,    0,    0,    0xD0, 0xC0, 0xB0, 0xA0}));
    CSchedule back;
    back.Add({1, 1, 1, 1});
    EXPECT_EQ(LoadRecordBytes(back, bytes), LoadResult::Loaded);
    EXPECT_EQ(back.Entries(), s.Entries());
}

TEST(Schedule, RegistryRoundTripUnderTheScheduleKey) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    CSchedule s;
    EXPECT_TRUE(s.ReadAll(*reg));  // nothing stored: an empty schedule
    EXPECT_EQ(s.Count(), 0u);
    s.Add({kSwitchOn, kDaily, 0, 1700000000});
    s.Add({kShutdown, kMonthly, 0, 1700003600});
    ASSERT_TRUE(s.WriteAll(*reg));
    EXPECT_EQ(test::ReadFile(dir / "SoftWare/Stavlen/Torvane/Schedule").size(), 4 + 2 * 12u);
    CSchedule back;
    back.Add({2, 2, 2, 2});  // ReadAll empties first
    EXPECT_TRUE(back.ReadAll(*reg));
    EXPECT_EQ(back.Entries(), s.Entries());
}

TEST(Schedule, TruncatedValueKeepsWholeEntriesAndTraces) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    CSchedule s;
    for (std::uint32_t i = 0; i < 3; ++i) s.Add({kShutdown, kOnce, 0, 1000 + i});
    auto bytes = ToBytes(s);
    bytes.resize(bytes.size() - 5);  // the third entry is cut
    ASSERT_TRUE(reg->WriteValue(kScheduleKey, kScheduleValue, platform::ValueType::Binary, bytes));
    std::string traced;
    auto old = SetTraceSink([&](std::string_view l) { traced += l; });
    CSchedule back;
    EXPECT_FALSE(back.ReadAll(*reg));
    SetTraceSink(old);
    EXPECT_EQ(traced, "CScheduel ReadAll fail\n");
    ASSERT_EQ(back.Count(), 2u);
    EXPECT_EQ(back.Entries()[1].time, 1001u);
}

TEST(Schedule, UnreadableValueIsAReadErrorNotAnEmptySchedule) {
    // An empty schedule from ReadAll would be written back over the entries by the next change.
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    CSchedule s;
    s.Add({kShutdown, kDaily, 0, 1700000000});
    ASSERT_TRUE(s.WriteAll(*reg));
    const fs::path value = dir / "SoftWare/Stavlen/Torvane/Schedule";
    fs::resize_file(value, platform::Registry::kMaxValueSize + 1);
    std::string traced;
    auto old = SetTraceSink([&](std::string_view l) { traced += l; });
    CSchedule back;
    EXPECT_FALSE(back.ReadAll(*reg));
    SetTraceSink(old);
    EXPECT_NE(traced.find("CScheduel ReadAll fail\n"), std::string::npos);
    EXPECT_EQ(back.Count(), 0u);
}

TEST(Schedule, HostileCountCostsNothing) {
    // Four billion entries announced, none sent: a failed load, not a huge list.
    const std::vector<std::uint8_t> bytes{0xFF, 0xFF, 0xFF, 0xFF};
    CSchedule s;
    EXPECT_EQ(LoadRecordBytes(s, bytes), LoadResult::Partial);
    EXPECT_EQ(s.Count(), 0u);
}

TEST(Schedule, OnlyEntriesTheAgentCanActOnAreAccepted) {
    CSchedule schedule;
    EXPECT_EQ(ScheduleProblem(schedule), "");
    schedule.Add(CScheduleDetail(kSelfTest, kMonthly, -1, 1000));
    schedule.Add(CScheduleDetail(kShutdown, kDaily, 0, 2000));
    schedule.Add(CScheduleDetail(kSwitchOn, kEverySecondMonth, 0, 2500));
    EXPECT_EQ(ScheduleProblem(schedule), "");
    schedule.Add(CScheduleDetail(kSelfTest, kOnce, -2, 3000));
    EXPECT_EQ(ScheduleProblem(schedule), "entry 4: test length -2");
    schedule.RemoveAll();
    schedule.Add(CScheduleDetail(3, kOnce, 0, 3000));
    EXPECT_EQ(ScheduleProblem(schedule), "entry 1: event 3");
    schedule.RemoveAll();
    schedule.Add(CScheduleDetail(kSwitchOn, 5, 0, 3000));
    EXPECT_EQ(ScheduleProblem(schedule), "entry 1: frequency 5");
    schedule.RemoveAll();
    for (std::size_t i = 0; i <= kMaxScheduleEntries; ++i)
        schedule.Add(CScheduleDetail(kSwitchOn, kOnce, 0, static_cast<std::uint32_t>(i)));
    EXPECT_NE(ScheduleProblem(schedule), "");
}

TEST(Schedule, CopyFromAndRemoveAllUnderConcurrentReaders) {
    CSchedule a, b;
    for (std::uint32_t i = 0; i < 50; ++i) b.Add({kShutdown, kDaily, 0, 1000 + i});
    std::atomic<bool> stop = false;
    std::thread reader([&] {
        CScheduleDetail out;
        while (!stop) a.NextTime(kShutdown, out, 5000);
    });
    for (int i = 0; i < 200; ++i) {
        a.CopyFrom(b);
        EXPECT_EQ(a.Count(), 50u);
        a.RemoveAll();
    }
    stop = true;
    reader.join();
    a.CopyFrom(b);
    a.CopyFrom(a);  // copying from itself changes nothing
    EXPECT_EQ(a.Entries(), b.Entries());
}

}  // namespace
}  // namespace ups
