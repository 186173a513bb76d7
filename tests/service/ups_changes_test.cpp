// Change detection, read as the rules: what each status after the last one posts and traces,
// the boost/buck/bypass flags, and what a status means for commands being repeated.
#include "ups_changes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "q1_dialect.h"

namespace torvane {
namespace {

std::string Line(const char* bits, const char* input = "230.0", const char* output = "230.0") {
    return std::string("(") + input + " 230.0 " + output + " 021 50.0 2.25 25.0 " + bits + "\r";
}

ups::UPSStatusValues Status(const char* bits, const char* input = "230.0",
                            const char* output = "230.0") {
    const auto v = q1::ParseStatus(Line(bits, input, output));
    EXPECT_TRUE(v) << bits;
    return v.value_or(ups::UPSStatusValues{});
}

std::vector<int> Codes(const ChangeOutcome& out) {
    std::vector<int> codes;
    for (const auto& n : out.reactions.posts) codes.push_back(n.code);
    return codes;
}

struct Detector {
    ChangeDetector d;
    std::int64_t now = 1000;
    ChangeOutcome Feed(const ups::UPSStatusValues& v, bool shutdownSent = false,
                       bool testSent = false) {
        return d.OnStatusParsed({.status = v,
                                 .now = ++now,
                                 .shutdownCommandSent = shutdownSent,
                                 .selfTestCommandSent = testSent});
    }
    ChangeOutcome Feed(const char* bits) { return Feed(Status(bits)); }
};

TEST(UpsChanges, FirstStandbyStatusPostsNewStatusThenStandby) {
    Detector t;
    const auto out = t.Feed(Status("00001000"));
    EXPECT_EQ(Codes(out), (std::vector<int>{kNotifyStatus, kNotifyStandby}));
    EXPECT_EQ(out.reactions.traces, std::vector<std::string>{"UPS style is standby\n"});
    // The same status again: only "new status".
    EXPECT_EQ(Codes(t.Feed("00001000")), std::vector<int>{kNotifyStatus});
}

TEST(UpsChanges, FirstOnlineStatusPostsSixAndTheStyleIsNeverToldAgain) {
    Detector t;
    const auto out = t.Feed("00000000");
    EXPECT_EQ(Codes(out), (std::vector<int>{kNotifyStatus, kNotifyOnline}));
    EXPECT_EQ(out.reactions.traces, std::vector<std::string>{"UPS style is on_line\n"});
    EXPECT_EQ(Codes(t.Feed("00001000")), std::vector<int>{kNotifyStatus});
    EXPECT_EQ(Codes(t.Feed("00000000")), std::vector<int>{kNotifyStatus});
}

// Each bit set then cleared on an on-line UPS, with its codes and trace texts.
TEST(UpsChanges, EachBitPostsItsCodesAndTexts) {
    struct Case {
        const char* set;
        int setCode;
        const char* setTrace;
        int clearCode;
        const char* clearTrace;
    };
    const Case cases[] = {
        {"00000001", 7, "UPS beep on\n", 8, "UPS beep off\n"},
        {"00000010", 9, "UPS is in shutdown process\n", 10, "UPS abort shutdown\n"},
        {"00000100", 11, "UPS is testing\n", 12, "UPS test complete\n"},
        {"00010000", 13, "UPS fail,may got a bad one\n", 14, "UPS from bad one become good ups\n"},
        {"00100000", 17, "UPS(Style:Online) bypass ac power directly\n", 19,
         "UPS(Style:Online) do not bypass ac power\n"},
        {"01000000", 20, "UPS battery low\n", 21, "UPS battery low recovered\n"},
        {"10000000", 22, "UPS ac fail\n", 23, "UPS ac fail recovered\n"},
    };
    for (const auto& c : cases) {
        Detector t;
        t.Feed("00000000");
        auto out = t.Feed(c.set);
        EXPECT_EQ(Codes(out), (std::vector<int>{kNotifyStatus, c.setCode})) << c.set;
        EXPECT_EQ(out.reactions.traces, std::vector<std::string>{c.setTrace});
        EXPECT_EQ(Codes(t.Feed(c.set)), std::vector<int>{kNotifyStatus}) << c.set;
        out = t.Feed("00000000");
        EXPECT_EQ(Codes(out), (std::vector<int>{kNotifyStatus, c.clearCode})) << c.set;
        EXPECT_EQ(out.reactions.traces, std::vector<std::string>{c.clearTrace});
    }
}

TEST(UpsChanges, SeveralChangesComeInTheListedOrder) {
    Detector t;
    const auto out = t.Feed("11010111");
    EXPECT_EQ(Codes(out), (std::vector<int>{24, 6, 7, 9, 11, 13, 20, 22}));
}

TEST(UpsChanges, StandbyBoostOrBuckIsToldOnEveryStatusUntilTheBitClears) {
    Detector t;
    t.Feed(Status("00001000"));
    for (int i = 0; i < 3; ++i) {
        const auto out = t.Feed(Status("00101000", "190.0", "220.0"));
        EXPECT_EQ(Codes(out), (std::vector<int>{kNotifyStatus, kNotifyBoost}));
        EXPECT_EQ(out.reactions.traces,
                  std::vector<std::string>{
                      "UPS(Style:Standby) detect input power low and boost power\n"});
        EXPECT_TRUE(t.d.boost());
        EXPECT_FALSE(t.d.bypass());
    }
    for (int i = 0; i < 2; ++i) {
        const auto out = t.Feed(Status("00101000", "250.0", "230.0"));
        EXPECT_EQ(Codes(out), (std::vector<int>{kNotifyStatus, kNotifyBuck}));
        EXPECT_EQ(out.reactions.traces,
                  std::vector<std::string>{
                      "UPS(Style:Standby) detect input power high and buck power\n"});
        EXPECT_TRUE(t.d.buck());
    }
    // Equal voltages count as buck.
    EXPECT_EQ(Codes(t.Feed(Status("00101000"))), (std::vector<int>{24, kNotifyBuck}));
    const auto out = t.Feed("00001000");
    EXPECT_EQ(Codes(out), (std::vector<int>{kNotifyStatus, kNotifyBoostBuckEnded}));
    EXPECT_EQ(out.reactions.traces,
              std::vector<std::string>{
                  "UPS(Style:Standby) ac power had normally. So don't need collimate power\n"});
    EXPECT_FALSE(t.d.boost());
    EXPECT_FALSE(t.d.buck());
}

TEST(UpsChanges, BatteryLowAndAcFailAreStampedWhenTheyBegin) {
    Detector t;
    t.now = 5000;
    t.Feed("00000000");  // 5001
    t.Feed("10000000");  // 5002
    EXPECT_EQ(t.d.acFailTime(), 5002);
    t.Feed("10000000");
    t.Feed("11000000");  // 5004
    EXPECT_EQ(t.d.acFailTime(), 5002);
    EXPECT_EQ(t.d.batteryLowTime(), 5004);
    t.Feed("00000000");
    t.Feed("10000000");  // 5006: a new failure starts a new delay
    EXPECT_EQ(t.d.acFailTime(), 5006);
}

TEST(UpsChanges, ShutdownActiveConfirmsOnlyACommandThatWasSent) {
    Detector t;
    t.Feed("00000000");
    EXPECT_EQ(t.Feed(Status("00000010"), false).commands, CommandEffects{});
    EXPECT_TRUE(t.Feed(Status("00000010"), true).commands.shutdownConfirmed);
    EXPECT_FALSE(t.Feed(Status("00000000"), true).commands.shutdownConfirmed);
}

TEST(UpsChanges, SelfTestRunningConfirmsASentTestAndDropsAQueuedOne) {
    Detector t;
    t.Feed("00000000");
    // Started from the front panel while ours is still queued.
    auto out = t.Feed(Status("00000100"), false, false);
    EXPECT_TRUE(out.commands.selfTestStarted);
    EXPECT_FALSE(out.commands.selfTestConfirmed);
    // Still running, now with our command sent: confirmed, not "started" again.
    out = t.Feed(Status("00000100"), false, true);
    EXPECT_TRUE(out.commands.selfTestConfirmed);
    EXPECT_FALSE(out.commands.selfTestStarted);
    EXPECT_FALSE(t.Feed(Status("00000000"), false, true).commands.selfTestConfirmed);
}

}  // namespace
}  // namespace torvane
