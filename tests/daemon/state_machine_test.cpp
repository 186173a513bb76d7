// The power-event state machine on a clock the test moves: minutes and weeks without waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "state_machine.h"

namespace {

// Writes down what the machine does, in order.
class Recorder : public PowerEvents {
  public:
    void OpenLog() override { calls.push_back("open log"); }
    void CloseLog() override { calls.push_back("close log"); }
    void Warn(std::string_view text, bool to_log) override {
        calls.push_back((to_log ? "warn+log: " : "warn: ") + std::string(text));
    }
    void Report(std::string_view text) override { calls.push_back("report: " + std::string(text)); }
    void Notify(char code) override { calls.push_back(std::string("notify ") + code); }
    void ShutDownNow(bool scheduled) override {
        calls.push_back(scheduled ? "shutdown scheduled" : "shutdown");
    }
    std::vector<std::string> Take() { return std::exchange(calls, {}); }
    std::vector<std::string> calls;
};

// A status reply with the given AC-failure and battery-low characters at 38 and 39.
std::string Reply(char ac, char battery) {
    std::string r = "(230.0 230.0 230.0 021 50.0 2.27 25.0 00001001\r";
    r[38] = ac;
    r[39] = battery;
    return r;
}

class StateMachine : public ::testing::Test {
  protected:
    StateMachine() {
        WeekSchedule week;
        InitConfig(&config_, &week);
    }

    // One poll: the reply, then a little over a second passes.
    void Poll(char ac, char battery, int64_t next_shutdown = -1) {
        std::string reply = Reply(ac, battery);
        machine_.StateTransition(reply, config_, next_shutdown);
        now_ += 1;
    }
    void Polls(int n, char ac, char battery) {
        for (int i = 0; i < n; ++i) Poll(ac, battery);
    }
    // Polls with unchanged bits until `seconds` have passed.
    void RunFor(int64_t seconds, char ac, char battery, int64_t next_shutdown = -1) {
        int64_t until = now_ + seconds;
        while (now_ < until) Poll(ac, battery, next_shutdown);
    }

    int64_t now_ = 1'796'700'000;  // Monday 7 December 2026
    UpsConfig config_{};
    Recorder events_;
    PowerStateMachine machine_{[this] { return now_; }, events_};
};

const std::string kAcFails = "AC Power Fails! UPS provides power!";
const std::string kStops = "Shutdown Stops! System Returns to Normal State!";

}  // namespace

TEST_F(StateMachine, FourAgreeingSamplesStartAndEndAnEvent) {
    // A lone "1" between "0"s, and three in a row, do nothing.
    Polls(3, '0', '0');
    Poll('1', '0');
    Polls(3, '0', '0');
    Polls(3, '1', '0');
    EXPECT_EQ(machine_.state(), kNormal);
    EXPECT_TRUE(events_.Take().empty());

    Poll('1', '0');
    EXPECT_EQ(machine_.state(), kAcFailure);
    EXPECT_EQ(machine_.deadline(), now_ - 1 + 5 * 60);
    EXPECT_EQ(events_.Take(), (std::vector<std::string>{"open log", "warn+log: " + kAcFails,
                                                        "report: " + kAcFails, "notify 1"}));
    // Recovery needs four "0"s as well; undecided rings keep counting down.
    Polls(3, '0', '0');
    EXPECT_EQ(machine_.state(), kAcFailure);
    Poll('0', '0');
    EXPECT_EQ(machine_.state(), kNormal);
    EXPECT_EQ(machine_.deadline(), kNoDeadline);
    EXPECT_EQ(events_.Take(),
              (std::vector<std::string>{"warn+log: System will be shut down in  5 Minutes! ",
                                        "warn+log: AC Power recovered!", "warn+log: " + kStops,
                                        "close log", "report: AC Power recovered!", "notify 2"}));
}

TEST_F(StateMachine, AnythingButZeroOrOneIsUndecidedAndMarkedInTheReply) {
    std::string reply = Reply('x', '\0');
    for (int i = 0; i < 8; ++i) machine_.StateTransition(reply, config_, -1);
    EXPECT_EQ(reply[38], '2');
    EXPECT_EQ(machine_.state(), kNormal);
    std::string short_reply = "(230.0";
    for (int i = 0; i < 4; ++i) machine_.StateTransition(short_reply, config_, -1);
    EXPECT_EQ(machine_.state(), kNormal);
    EXPECT_EQ(short_reply, "(230.0");
}

TEST_F(StateMachine, CountdownAnnouncesEachMinuteOnceThenSecondsThenShutsDown) {
    Polls(4, '1', '0');
    events_.Take();
    RunFor(5 * 60 + 2, '1', '0');
    std::vector<std::string> minutes, seconds;
    for (const std::string& c : events_.calls) {
        if (c.find("Minute") != std::string::npos) minutes.push_back(c);
        if (c.find("Second") != std::string::npos) seconds.push_back(c);
    }
    EXPECT_EQ(minutes,
              (std::vector<std::string>{"warn+log: System will be shut down in  5 Minutes! ",
                                        "warn+log: System will be shut down in  4 Minutes! ",
                                        "warn+log: System will be shut down in  3 Minutes! ",
                                        "warn+log: System will be shut down in  2 Minutes! ",
                                        "warn+log: System will be shut down in  1 Minute!  "}));
    ASSERT_EQ(seconds.size(), 30u);  // one per poll in the last 30 seconds, never logged
    EXPECT_EQ(seconds.front(), "warn: System will be shut down in 30 Seconds!!");
    EXPECT_EQ(seconds.back(), "warn: System will be shut down in  1 Second!! ");
    EXPECT_EQ(events_.calls.back(), "shutdown");
    EXPECT_EQ(machine_.state(), kShutDownNow);

    // There is no way back from shutting down.
    size_t calls = events_.calls.size();
    Polls(8, '0', '0');
    EXPECT_EQ(events_.calls.size(), calls);
}

TEST_F(StateMachine, WithoutPerSecondCountdownTheLastWordIsOneMinute) {
    config_.countdown_on = 0;
    config_.acfail_delay = 2;
    Polls(4, '1', '0');
    events_.Take();
    RunFor(2 * 60 + 2, '1', '0');
    std::vector<std::string> warnings;
    for (const std::string& c : events_.calls) {
        if (c.rfind("warn", 0) == 0) warnings.push_back(c);
    }
    EXPECT_EQ(warnings,
              (std::vector<std::string>{"warn+log: System will be shut down in  2 Minutes! ",
                                        "warn+log: System will be shut down in  1 Minute!  "}));
    EXPECT_EQ(events_.calls.back(), "shutdown");
}

TEST_F(StateMachine, BatteryLowOnlyEverMovesTheDeadlineEarlier) {
    config_.acfail_delay = 5;
    config_.battlow_delay = 1;
    Polls(4, '1', '0');
    const int64_t ac_deadline = machine_.deadline();
    RunFor(60, '1', '0');
    Polls(4, '1', '1');
    EXPECT_EQ(machine_.state(), kAcFailureAndBatteryLow);
    EXPECT_EQ(machine_.deadline(), now_ - 1 + 60);
    EXPECT_LT(machine_.deadline(), ac_deadline);

    PowerStateMachine late([this] { return now_; }, events_);
    config_.acfail_delay = 1;
    config_.battlow_delay = 10;
    for (int i = 0; i < 4; ++i) {
        std::string r = Reply('1', '0');
        late.StateTransition(r, config_, -1);
    }
    int64_t deadline = late.deadline();
    for (int i = 0; i < 4; ++i) {
        std::string r = Reply('1', '1');
        late.StateTransition(r, config_, -1);
    }
    EXPECT_EQ(late.state(), kAcFailureAndBatteryLow);
    EXPECT_EQ(late.deadline(), deadline);
}

TEST_F(StateMachine, BothFailedWaitsForTheUtilityThenCountsDownOnBattery) {
    Polls(4, '0', '1');
    EXPECT_EQ(machine_.state(), kBatteryLow);
    const int64_t deadline = machine_.deadline();
    Polls(4, '1', '1');
    EXPECT_EQ(machine_.state(), kAcFailureAndBatteryLow);
    EXPECT_EQ(machine_.deadline(), deadline);
    events_.Take();

    Polls(4, '1', '0');  // the battery recovers while the utility is out: not acted on
    EXPECT_EQ(machine_.state(), kAcFailureAndBatteryLow);
    Poll('0', '0');
    Poll('0', '0');
    Poll('0', '0');
    EXPECT_EQ(machine_.state(), kAcFailureAndBatteryLow);
    Poll('0', '0');
    EXPECT_EQ(machine_.state(), kBatteryLow);
    EXPECT_EQ(machine_.deadline(), deadline);
    Polls(3, '0', '0');  // the battery ring last saw "1"s: four "0"s to recover
    EXPECT_EQ(machine_.state(), kBatteryLow);
    Poll('0', '0');
    EXPECT_EQ(machine_.state(), kNormal);
    std::vector<std::string> calls = events_.Take();
    EXPECT_EQ(
        std::vector<std::string>(calls.end() - 5, calls.end()),
        (std::vector<std::string>{"warn+log: UPS Battery recovered!", "warn+log: " + kStops,
                                  "close log", "report: UPS Battery recovered!", "notify 4"}));
}

TEST_F(StateMachine, ScheduledWindowOpensLateEnoughAndIsCancelledWhenSwitchedOff) {
    config_.schedule_on = 1;
    config_.acfail_delay = 5;
    const int64_t at = now_ + 400;
    RunFor(100, '0', '0', at);
    EXPECT_EQ(machine_.state(), kNormal);
    RunFor(2, '0', '0', at);  // now less than 300 s remain
    EXPECT_EQ(machine_.state(), kScheduledPending);
    EXPECT_TRUE(machine_.scheduled());
    EXPECT_EQ(machine_.deadline(), at);
    std::vector<std::string> calls = events_.Take();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "open log");
    EXPECT_EQ(calls[1], "warn+log: Scheduled time to shutdown!");  // no report, no e-mail

    config_.schedule_on = 0;
    Poll('0', '0', at);
    EXPECT_EQ(machine_.state(), kNormal);
    EXPECT_FALSE(machine_.scheduled());
    EXPECT_EQ(events_.Take(), (std::vector<std::string>{"warn+log: " + kStops, "close log"}));
}

TEST_F(StateMachine, ScheduledShutdownCarriesTheRestartEvenAcrossTheMinute) {
    config_.schedule_on = 1;
    const int64_t at = now_ + 200;
    RunFor(200, '0', '0', at);
    EXPECT_EQ(machine_.state(), kScheduledPending);
    // A poll cycle that began in the scheduled minute already sees next week's time.
    Poll('0', '0', at + 7 * 24 * 3600);
    EXPECT_EQ(events_.calls.back(), "shutdown scheduled");
}

TEST_F(StateMachine, ScheduledTooCloseGetsAnotherMinuteAndEmptiedScheduleCancels) {
    config_.schedule_on = 1;
    Poll('0', '0', now_ + 30);
    EXPECT_EQ(machine_.state(), kScheduledPending);
    EXPECT_EQ(machine_.deadline(), now_ - 1 + 30 + 60);
    // Every shutdown time taken out while still switched on: nothing is due, nothing happens.
    Poll('0', '0', -1);
    EXPECT_EQ(machine_.state(), kNormal);
    RunFor(200, '0', '0', -1);
    EXPECT_EQ(events_.calls.back(), "close log");
}

TEST_F(StateMachine, TheExtraMinuteOfALateAnnouncementIsKeptToTheEnd) {
    config_.schedule_on = 1;
    const int64_t at = now_ + 30;
    Poll('0', '0', at);
    ASSERT_EQ(machine_.deadline(), at + 60);
    // Poll on as the daemon does: until the scheduled minute passes the schedule still names it,
    // after that it names next week's.
    while (events_.calls.empty() || events_.calls.back() != "shutdown scheduled") {
        ASSERT_LT(now_, at + 120) << "no shutdown";
        ASSERT_EQ(machine_.state(), kScheduledPending);
        ASSERT_EQ(machine_.deadline(), at + 60) << "the extra minute was taken back";
        Poll('0', '0', now_ < at ? at : at + 7 * 24 * 3600);
    }
    EXPECT_EQ(now_ - 1, at + 60);  // the step that shut down ran at the extended deadline
    std::vector<std::string> calls = events_.Take();
    EXPECT_NE(
        std::find(calls.begin(), calls.end(), "warn+log: System will be shut down in  2 Minutes! "),
        calls.end());
    EXPECT_EQ(std::find(calls.begin(), calls.end(), "warn+log: " + kStops), calls.end());
}

TEST_F(StateMachine, AScheduleMovedDuringTheExtraMinuteDecidesAgain) {
    config_.schedule_on = 1;
    const int64_t at = now_ + 30;
    Poll('0', '0', at);
    // Moved an hour later: further than the warning window, so the shutdown is off.
    Poll('0', '0', at + 3600);
    EXPECT_EQ(machine_.state(), kNormal);
    EXPECT_EQ(events_.calls.back(), "close log");
}

TEST_F(StateMachine, PowerEventsTakeOverAPendingSchedule) {
    config_.schedule_on = 1;
    const int64_t at = now_ + 120;
    Poll('0', '0', at);
    events_.Take();
    for (int i = 0; i < 4; ++i) Poll('1', '0', at);
    EXPECT_EQ(machine_.state(), kAcFailure);
    EXPECT_FALSE(machine_.scheduled());
    EXPECT_EQ(machine_.deadline(), at);  // the earlier, scheduled deadline stands
    std::vector<std::string> calls = events_.Take();
    EXPECT_EQ(std::vector<std::string>(calls.end() - 4, calls.end()),
              (std::vector<std::string>{"open log", "warn+log: " + kAcFails, "report: " + kAcFails,
                                        "notify 1"}));
    RunFor(200, '1', '0');
    EXPECT_EQ(events_.calls.back(), "shutdown");  // without the restart time
}

TEST_F(StateMachine, SilenceFreezesTheStateButNotThePassingOfTheDeadline) {
    // Silence in the normal state changes nothing, however long.
    now_ += 3600;
    machine_.WhileSilent();
    EXPECT_EQ(machine_.state(), kNormal);

    Polls(4, '1', '0');
    EXPECT_EQ(machine_.state(), kAcFailure);
    events_.Take();
    // No answers: no samples, no countdown messages, the state stays...
    for (int i = 0; i < 4 * 60; ++i, now_ += 1) machine_.WhileSilent();
    EXPECT_EQ(machine_.state(), kAcFailure);
    EXPECT_TRUE(events_.Take().empty());
    // ...until the deadline passes: then the machine shuts down without waiting for the UPS.
    now_ += 60;
    machine_.WhileSilent();
    EXPECT_EQ(machine_.state(), kShutDownNow);
    EXPECT_EQ(events_.Take(), (std::vector<std::string>{"shutdown"}));
}

TEST_F(StateMachine, AfterSilenceTheFirstAnswerPastTheDeadlineShutsDownAtOnce) {
    Polls(4, '1', '0');
    now_ += 10 * 60;  // silent polls do not step the machine
    Poll('1', '0');
    EXPECT_EQ(events_.calls.back(), "shutdown");
}

TEST_F(StateMachine, DeadlinesStayRightPast2038) {
    now_ = 2'500'000'000;  // 2049
    Polls(4, '1', '0');
    EXPECT_EQ(machine_.state(), kAcFailure);
    EXPECT_EQ(machine_.deadline(), now_ - 1 + 300);
    Poll('1', '0');
    EXPECT_NE(events_.calls.back(), "shutdown");
}
