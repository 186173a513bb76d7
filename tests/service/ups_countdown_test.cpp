// The countdown over an injected clock: which source wins, and when the owner is told that the
// countdown started, moved or stopped.
#include "ups_countdown.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "ups_lib/ups_records.h"

namespace torvane {
namespace {

class FakeSchedule : public ScheduleSource {
  public:
    std::optional<std::int64_t> next;
    std::optional<std::int64_t> NextShutdown(std::int64_t) override { return next; }
};

struct Clocked {
    Countdown c;
    CountdownInput in;
    Clocked() { in.now = 100000; }
    CountdownOutcome TickAfter(std::int64_t seconds) {
        in.now += seconds;
        return c.Tick(in);
    }
};

std::vector<Notification> Posts(const CountdownOutcome& out) {
    return out.reactions.posts;
}

TEST(Countdown, QuietWhenNothingCountsDown) {
    Clocked t;
    for (int i = 0; i < 3; ++i) {
        const auto out = t.TickAfter(2);
        EXPECT_FALSE(out.seconds);
        EXPECT_TRUE(out.reactions.posts.empty());
    }
}

TEST(Countdown, AcFailureCountsDownItsDelayThenStops) {
    Clocked t;
    t.in.settings.acFailMinutes = 2;
    t.TickAfter(2);
    t.in.status = ups::kUtilityFail;
    t.in.acFailTime = t.in.now + 1;  // failed a second before the next tick
    auto out = t.TickAfter(2);
    EXPECT_EQ(out.seconds, 119);
    EXPECT_EQ(Posts(out),
              (std::vector<Notification>{{kNotifyCountdownStart, 119}, {kNotifyCountdown, 119}}));
    EXPECT_EQ(out.reactions.traces,
              std::vector<std::string>{"CUPS count down start or state changed\n"});
    out = t.TickAfter(2);
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyCountdown, 117}}));
    out = t.TickAfter(0);  // same value: nothing
    EXPECT_TRUE(out.reactions.posts.empty());
    out = t.TickAfter(500);  // long past: held at 0
    EXPECT_EQ(out.seconds, 0);
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyCountdown, 0}}));

    t.in.status = 0;
    out = t.TickAfter(2);
    EXPECT_FALSE(out.seconds);
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyCountdownStop, 0}}));
    EXPECT_EQ(out.reactions.traces, std::vector<std::string>{"CUPS stop countdown(abort)\n"});
    EXPECT_TRUE(t.TickAfter(2).reactions.posts.empty());
}

TEST(Countdown, SmallestSourceWinsAndANewSourceRestarts) {
    Clocked t;
    t.in.settings = {.acFailMinutes = 20, .batteryLowMinutes = 5, .scheduleWarningMinutes = 30};
    t.in.status = ups::kUtilityFail;
    t.in.acFailTime = t.in.now;
    auto out = t.TickAfter(60);
    EXPECT_EQ(out.seconds, 1140);
    t.in.status = ups::kUtilityFail | ups::kBatteryLowBit;
    t.in.batteryLowTime = t.in.now + 2;
    out = t.TickAfter(2);
    EXPECT_EQ(out.seconds, 300);
    EXPECT_EQ(Posts(out),
              (std::vector<Notification>{{kNotifyCountdownStart, 300}, {kNotifyCountdown, 300}}));
}

TEST(Countdown, ChangedDelaySettingRestartsTheAnnouncement) {
    Clocked t;
    t.in.status = ups::kBatteryLowBit;
    t.in.batteryLowTime = t.in.now;
    t.TickAfter(0);
    t.in.settings.batteryLowMinutes = 3;
    auto out = t.TickAfter(10);
    EXPECT_EQ(Posts(out),
              (std::vector<Notification>{{kNotifyCountdownStart, 170}, {kNotifyCountdown, 170}}));
    // A setting of a source that is not counting changes the announcement too.
    t.in.settings.scheduleWarningMinutes = 10;
    out = t.TickAfter(0);
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyCountdownStart, 170}}));
}

TEST(Countdown, ClockSetBackDoesNotStretchTheDelay) {
    Clocked t;
    t.in.settings.acFailMinutes = 1;
    t.in.status = ups::kUtilityFail;
    t.in.acFailTime = t.in.now;
    EXPECT_EQ(t.TickAfter(-3600).seconds, 60);
}

TEST(Countdown, ScheduleEntersAndLeavesItsWarningTime) {
    Clocked t;
    FakeSchedule schedule;
    t.in.schedule = &schedule;
    t.in.settings.scheduleWarningMinutes = 30;
    schedule.next = t.in.now + 1800 + 10;
    auto out = t.TickAfter(2);  // 1808 s away: not yet
    EXPECT_FALSE(out.seconds);
    EXPECT_TRUE(out.reactions.posts.empty());
    EXPECT_FALSE(t.c.scheduleActive());

    out = t.TickAfter(8);  // 1800 s: inside
    EXPECT_TRUE(t.c.scheduleActive());
    EXPECT_EQ(out.seconds, 1800);
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyScheduleWarning, 0},
                                                     {kNotifyCountdownStart, 1800},
                                                     {kNotifyCountdown, 1800}}));

    schedule.next = *schedule.next + 3600;  // moved away by an hour
    out = t.TickAfter(2);
    EXPECT_FALSE(t.c.scheduleActive());
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyScheduleWarningEnd, 0},
                                                     {kNotifyCountdownStop, 0}}));
}

TEST(Countdown, ScheduleEmptiedBeforeItsTimeEndsTheWarningButNotAtTheEnd) {
    Clocked t;
    FakeSchedule schedule;
    t.in.schedule = &schedule;
    schedule.next = t.in.now + 600;
    t.TickAfter(0);
    schedule.next.reset();  // the entry was taken out
    auto out = t.TickAfter(2);
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyScheduleWarningEnd, 0},
                                                     {kNotifyCountdownStop, 0}}));

    // Counted all the way down: the schedule's next time is then gone, and that is no abort
    // of the warning.
    schedule.next = t.in.now + 4;
    t.TickAfter(0);
    t.TickAfter(4);  // 0 left
    schedule.next.reset();
    out = t.TickAfter(2);
    EXPECT_EQ(Posts(out), (std::vector<Notification>{{kNotifyCountdownStop, 0}}));
    EXPECT_FALSE(t.c.scheduleActive());
}

}  // namespace
}  // namespace torvane
