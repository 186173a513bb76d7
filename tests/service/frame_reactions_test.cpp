#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "frame_reactions.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/log_records.h"

namespace {

using namespace torvane;
using ups::CEventLogRecord;

struct Clock {
    std::int64_t t = 1'000'000;
    std::function<std::int64_t()> Fn() {
        return [this] { return t; };
    }
};

ReactionSettings Boxes() {
    ReactionSettings s;
    s.show_warnings = true;
    s.warn_repeat_seconds = 30;
    return s;
}

TEST(FrameReactions, PowerEventsLogTellClientsAlertAndSetTheirUdpBits) {
    Clock clock;
    FrameReactions f(clock.Fn());
    UpsView ups;
    Reaction ac = f.OnNotify(kNotifyAcFail, 0, ups, {});
    EXPECT_EQ(ac.log, (EventEntry{ups::kEvAcFailure, CEventLogRecord::kWarning}));
    EXPECT_EQ(ac.link_codes, std::vector<int>{kLinkAcFail});
    EXPECT_EQ(ac.alert_kind, kKindAcFail);
    EXPECT_EQ(ac.udp_bits, 1);
    EXPECT_EQ(ac.warning_kind, -1);

    Reaction back = f.OnNotify(kNotifyAcRestored, 0, ups, Boxes());
    EXPECT_EQ(back.log, (EventEntry{ups::kEvAcRestored, CEventLogRecord::kInformation}));
    EXPECT_EQ(back.warning_kind, kKindAcRestored);
    EXPECT_EQ(back.udp_bits, 2);
    EXPECT_EQ(f.OnNotify(kNotifyAcRestored, 0, ups, {}).warning_kind, -1)
        << "no box while warning boxes are off";

    Reaction low = f.OnNotify(kNotifyBatteryLow, 0, ups, Boxes());
    EXPECT_EQ(low.log, (EventEntry{ups::kEvBatteryLow, CEventLogRecord::kWarning}));
    EXPECT_TRUE(low.shut_down_at_once);
    EXPECT_FALSE(low.start_closing);
    EXPECT_EQ(low.udp_bits, 4);
    EXPECT_EQ(low.alert_kind, kKindBatteryLow);

    Reaction failed = f.OnNotify(kNotifyUpsFailed, 0, ups, {});
    EXPECT_EQ(failed.log, (EventEntry{ups::kEvUpsFailure, CEventLogRecord::kInformation}));
    EXPECT_EQ(failed.alert_kind, kKindUpsFailure);
    EXPECT_EQ(failed.link_codes, std::vector<int>{kLinkUpsFailed});

    Reaction warn = f.OnNotify(kNotifyScheduleWarning, 0, ups, Boxes());
    EXPECT_FALSE(warn.log);
    EXPECT_TRUE(warn.link_codes.empty());
    EXPECT_EQ(warn.alert_kind, kKindScheduleWarning);
    EXPECT_EQ(warn.warning_kind, -1);
    Reaction end = f.OnNotify(kNotifyScheduleWarningEnd, 0, ups, Boxes());
    EXPECT_EQ(end.warning_kind, kKindScheduleCancelled);
    EXPECT_EQ(end.alert_kind, kKindScheduleCancelled);
    EXPECT_EQ(end.udp_bits, 32);

    // Codes the frame has nothing to do for.
    for (int code :
         {int{kNotifyBasicReply}, int{kNotifyBeeperOn}, int{kNotifyUpsShutdown}, 30, 31, 99}) {
        Reaction r = f.OnNotify(code, 0, ups, Boxes());
        EXPECT_TRUE(r.link_codes.empty() && !r.log && r.alert_kind < 0 && r.udp_bits == 0) << code;
    }
}

TEST(FrameReactions, AConnectedUpsIsFollowedByItsState) {
    FrameReactions f([] { return 0; });
    UpsView standby{true, false, true, true, false, true, false};
    EXPECT_EQ(
        f.OnNotify(kNotifyConnected, 0, standby, {}).link_codes,
        (std::vector<int>{kLinkConnected, kLinkAcFail, kLinkTestStarted, kLinkStandby, kLinkBuck}));
    UpsView online{false, true, false, false, true, false, true};
    EXPECT_EQ(f.OnNotify(kNotifyConnected, 0, online, {}).link_codes,
              (std::vector<int>{kLinkConnected, kLinkBatteryLow, kLinkOnline, kLinkBypass}));
    UpsView boosting{false, false, false, true, true, true, false};
    EXPECT_EQ(StateBurst(boosting), (std::vector<int>{kLinkStandby, kLinkBoost}));
}

TEST(FrameReactions, CountdownBoxesRepeatAtTheIntervalAndClosingStartsOncePerCountdown) {
    Clock clock;
    FrameReactions f(clock.Fn());
    UpsView ups;
    ReactionSettings s = Boxes();
    Reaction start = f.OnNotify(kNotifyCountdownStart, 600, ups, s);
    EXPECT_TRUE(start.countdown_box);
    EXPECT_TRUE(start.link_codes.empty());

    int boxes = 0;
    for (int left = 599; left >= 1; --left) {
        ++clock.t;
        Reaction r = f.OnNotify(kNotifyCountdown, left, ups, s);
        ASSERT_EQ(r.link_codes, std::vector<int>{kLinkCountdown});
        EXPECT_EQ(r.countdown_seconds, left);
        EXPECT_EQ(r.udp_bits, 64);
        EXPECT_FALSE(r.start_closing);
        boxes += r.countdown_box;
    }
    EXPECT_EQ(boxes, 599 / 30);
    ++clock.t;
    Reaction zero = f.OnNotify(kNotifyCountdown, 0, ups, s);
    EXPECT_TRUE(zero.countdown_box) << "the last second always shows";
    EXPECT_TRUE(zero.start_closing);
    EXPECT_FALSE(f.OnNotify(kNotifyCountdown, 0, ups, s).start_closing);

    Reaction stop = f.OnNotify(kNotifyCountdownStop, 0, ups, s);
    EXPECT_EQ(stop.link_codes, std::vector<int>{kLinkCountdownStopped});
    EXPECT_EQ(stop.udp_bits, 128);
    EXPECT_EQ(f.last_countdown(), 0);
    EXPECT_TRUE(f.OnNotify(kNotifyCountdown, 0, ups, {}).start_closing) << "a new countdown";

    FrameReactions quiet(clock.Fn());
    EXPECT_FALSE(quiet.OnNotify(kNotifyCountdownStart, 60, ups, {}).countdown_box);
    EXPECT_FALSE(quiet.OnNotify(kNotifyCountdown, 0, ups, {}).countdown_box);
}

TEST(FrameReactions, DataLogSamplesAtTheIntervalFromTheFirstNotification) {
    Clock clock;
    FrameReactions f(clock.Fn());
    ReactionSettings s;
    s.data_log_on = true;
    s.data_log_interval_seconds = 30;
    int samples = 0;
    for (int tick = 0; tick < 60; ++tick) {  // two minutes of statuses every two seconds
        Reaction r = f.OnNotify(kNotifyStatus, 0, {}, s);
        EXPECT_EQ(r.link_codes, std::vector<int>{kLinkStatus});
        samples += r.data_log_sample;
        clock.t += 2;
    }
    EXPECT_EQ(samples, 3);  // at 30, 60 and 90 s; the first status starts the interval
    s.data_log_on = false;
    clock.t += 100;
    EXPECT_FALSE(f.OnNotify(kNotifyStatus, 0, {}, s).data_log_sample);
}

TEST(FrameReactions, CountdownBoxText) {
    std::array<std::string, 7> texts{"Attention! Utility Power Failure!",
                                     "Attention! UPS Battery Low!",
                                     "",
                                     "",
                                     "Scheduled Shutdown Warning",
                                     "",
                                     ""};
    EXPECT_EQ(CountdownBoxText(texts, true, false, false, 3725),
              "Attention! Utility Power Failure!\n\nTime remaining: 01:02:05");
    EXPECT_EQ(CountdownBoxText(texts, true, true, true, 86400 + 61),
              "Attention! Utility Power Failure!\nAttention! UPS Battery Low!\n"
              "Scheduled Shutdown Warning\n\nTime remaining: 1 Day, 00:01:01");
    EXPECT_EQ(CountdownBoxText(texts, false, false, true, 3 * 86400),
              "Scheduled Shutdown Warning\n\nTime remaining: 3 Days, 00:00:00");
    EXPECT_EQ(CountdownBoxText(texts, false, false, false, 0), "\nTime remaining: 00:00:00");
}

TEST(FrameReactions, RestoreMinutes) {
    const std::int64_t now = 1'700'000'000;
    EXPECT_EQ(RestoreMinutes(true, now + 3600, now, 120), 0);
    EXPECT_EQ(RestoreMinutes(false, std::nullopt, now, 120), 9999);
    EXPECT_EQ(RestoreMinutes(false, now + 60, now, 120), 1);
    EXPECT_EQ(RestoreMinutes(false, now + 3600, now, 120), 58);
    EXPECT_EQ(RestoreMinutes(false, now + 30, now, 120), 1) << "within this minute";
    EXPECT_EQ(RestoreMinutes(false, now + 400LL * 86400, now, 120), 9999);
    EXPECT_LT(RestoreMinutes(false, now - 600, now, 120), 0) << "a power-on time that passed";
}

// Self-tests due at the given times; next(from) is the first at or after `from`.
struct TestTimes {
    std::vector<std::int64_t> at;
    std::function<std::int64_t(std::int64_t)> Next() {
        return [this](std::int64_t from) {
            for (std::int64_t t : at)
                if (t >= from) return t;
            return std::int64_t{0};
        };
    }
};

int StartsOver(ScheduledTestWatch& watch, TestTimes& times, std::int64_t from, std::int64_t to,
               std::int64_t step) {
    int starts = 0;
    for (std::int64_t now = from; now <= to; now += step) starts += watch.Due(now, times.Next());
    return starts;
}

TEST(ScheduledTestWatch, EveryOccurrenceStartsOneTestHoweverFarApartTheLooksFall) {
    const std::int64_t t = 1'700'000'000;
    // Looks a second apart, and looks further apart (a late timer, a clock running fast).
    for (std::int64_t step : {1, 2, 3, 7, 10, 59}) {
        TestTimes times{{t + 100, t + 200}};
        ScheduledTestWatch watch;
        EXPECT_EQ(StartsOver(watch, times, t, t + 300, step), 2) << "looks " << step << " s apart";
    }
}

TEST(ScheduledTestWatch, ALateLookStartsTheTestItPassedAndOnlyOnce) {
    const std::int64_t t = 1'700'000'000;
    TestTimes times{{t + 10}};
    ScheduledTestWatch watch;
    EXPECT_FALSE(watch.Due(t, times.Next()));
    EXPECT_FALSE(watch.Due(t + 9, times.Next()));
    EXPECT_TRUE(watch.Due(t + 14, times.Next())) << "four seconds late";
    EXPECT_FALSE(watch.Due(t + 15, times.Next()));
    EXPECT_FALSE(watch.Due(t + 16, times.Next()));
}

TEST(ScheduledTestWatch, NothingFromBeforeTheFirstLookOrLongAgo) {
    const std::int64_t t = 1'700'000'000;
    TestTimes times{{t - 30, t + 1000}};
    ScheduledTestWatch watch;
    EXPECT_FALSE(watch.Due(t, times.Next())) << "due before the agent started";
    // A machine asleep for an hour wakes long after the test was due.
    EXPECT_FALSE(watch.Due(t + 1000 + 3600, times.Next()));
    EXPECT_FALSE(watch.Due(t + 1000 + 3601, times.Next()));
}

TEST(ScheduledTestWatch, AClockSetBackSeesTheTimeComeAgain) {
    const std::int64_t t = 1'700'000'000;
    TestTimes times{{t + 10}};
    ScheduledTestWatch watch;
    EXPECT_TRUE(watch.Due(t + 10, times.Next()));
    EXPECT_FALSE(watch.Due(t + 11, times.Next()));
    EXPECT_FALSE(watch.Due(t + 5, times.Next()));
    EXPECT_TRUE(watch.Due(t + 10, times.Next()));
}

}  // namespace
