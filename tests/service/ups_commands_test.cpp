// The command queue: the texts each command becomes in both dialects, the values refused, and
// what every tick sends while commands are repeated.
#include "ups_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvane {
namespace {

using Served = TickAction::Served;

std::vector<std::string> Texts(const TickAction& a) {
    std::vector<std::string> texts;
    for (const auto& s : a.sends) texts.push_back(s.text);
    return texts;
}

std::string ShutdownText(LinkKind kind, int delay, int restore) {
    CommandQueue q;
    q.SetLinkKind(kind);
    EXPECT_TRUE(q.SetShutdown(delay, restore)) << delay << " " << restore;
    return q.snapshot().shutdownText;
}

TEST(UpsShutdownCommand, Q1Texts) {
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 30, 0), "S.5\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 120, 5), "S02R0005\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 12, 0), "S.2\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 12, 9999), "S.2R9999\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 60, 0), "S01\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 119, 0), "S01\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 5940, 0), "S99\r");
    EXPECT_EQ(ShutdownText(LinkKind::kUsb, 30, 0), "S.5\r");
}

TEST(UpsShutdownCommand, DelayJustUnderAMinuteIsNeverAnImmediateShutdown) {
    // Rounded to tenths these are 1.0 minute; "S.0" would cut the power at once.
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 58, 0), "S01\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 59, 7), "S01R0007\r");
    EXPECT_EQ(ShutdownText(LinkKind::kQ1, 54, 0), "S.9\r");
}

TEST(UpsShutdownCommand, SecTextsAndRestoreFlag) {
    CommandQueue q;
    q.SetLinkKind(LinkKind::kSec);
    auto trace = q.SetShutdown(120, 0);
    ASSERT_TRUE(trace);
    EXPECT_EQ(*trace, "UPS shut down command is: ^S006PSD120\nUPS Restore command is: \n");
    EXPECT_EQ(q.snapshot().restoreFlag, -1);
    trace = q.SetShutdown(12, 30);
    EXPECT_EQ(q.snapshot().shutdownText, "^S005PSD12");
    EXPECT_EQ(q.snapshot().restoreText, "^S005RWD12");
    EXPECT_EQ(q.snapshot().restoreFlag, 30);
    q.SetShutdown(5940, 0);
    EXPECT_EQ(q.snapshot().shutdownText, "^S007PSD5940");
    EXPECT_EQ(q.snapshot().restoreText, "");
}

TEST(UpsShutdownCommand, OutOfRangeQueuesNothing) {
    CommandQueue q;
    EXPECT_FALSE(q.SetShutdown(11, 0));
    EXPECT_FALSE(q.SetShutdown(5941, 0));
    EXPECT_FALSE(q.SetShutdown(30, -1));
    EXPECT_FALSE(q.SetShutdown(30, 10000));
    EXPECT_EQ(q.snapshot().shutdown, 0);
    EXPECT_EQ(q.snapshot().shutdownText, "");
    const auto trace = q.SetShutdown(30, 0);
    ASSERT_TRUE(trace);
    EXPECT_EQ(*trace, "UPS shut down command is: S.5\r\n");
    EXPECT_EQ(q.snapshot().shutdown, kRepeatTicks);
}

TEST(UpsSelfTestCommand, TextsAndRefusals) {
    struct Case {
        int minutes;
        const char* q1;
        const char* sec;
    };
    for (const Case& c : {Case{-1, "TL\r", "^S004TST3"}, Case{0, "T\r", "^S004TST2"},
                          Case{5, "T05\r", "^S004TST1"}, Case{99, "T99\r", "^S004TST1"}}) {
        CommandQueue q1;
        const auto trace = q1.StartTest(c.minutes);
        ASSERT_TRUE(trace) << c.minutes;
        EXPECT_EQ(*trace, std::string("UPS test ") + c.q1 + "\n");
        EXPECT_EQ(q1.snapshot().testText, c.q1);
        EXPECT_EQ(q1.snapshot().selfTest, kRepeatTicks);
        CommandQueue sec;
        sec.SetLinkKind(LinkKind::kSec);
        sec.StartTest(c.minutes);
        EXPECT_EQ(sec.snapshot().testText, c.sec);
    }
    CommandQueue q;
    for (int bad : {100, -2, 1000}) EXPECT_FALSE(q.StartTest(bad)) << bad;
    EXPECT_EQ(q.snapshot().selfTest, 0);
    EXPECT_EQ(q.snapshot().testText, "");
}

TEST(UpsCommandTick, ShutdownGoesOutOnEvenTicksThenRaisesDone) {
    CommandQueue q;
    q.SetShutdown(120, 5);
    std::vector<std::vector<std::string>> sent;
    std::vector<bool> done;
    for (int i = 0; i < 6; ++i) {
        const auto a = q.Tick({});
        EXPECT_EQ(a.served, Served::kShutdown);
        sent.push_back(Texts(a));
        done.push_back(a.raiseShutdownDone);
    }
    const std::vector<std::string> cmd{"S02R0005\r"}, poll{"Q1\r"};
    EXPECT_EQ(sent, (std::vector<std::vector<std::string>>{cmd, poll, cmd, poll, cmd, poll}));
    EXPECT_EQ(done, (std::vector<bool>{false, false, false, false, false, true}));
    EXPECT_TRUE(q.shutdownCommandSent());
    // The status polls in between neither asked for "F" nor moved the poll counter.
    EXPECT_EQ(q.snapshot().pollCounter, 0);
    EXPECT_EQ(q.Tick({}).served, Served::kPoll);
}

TEST(UpsCommandTick, ShutdownReportedByTheUpsStopsTheRepeats) {
    CommandQueue q;
    q.SetShutdown(30, 0);
    q.Tick({});  // sent
    ASSERT_TRUE(q.shutdownCommandSent());
    EXPECT_TRUE(q.Apply({.shutdownConfirmed = true}));
    EXPECT_FALSE(q.shutdownCommandSent());
    EXPECT_EQ(q.snapshot().shutdown, 0);
    EXPECT_EQ(q.snapshot().shutdownText, "");
    EXPECT_EQ(q.Tick({}).served, Served::kPoll);
    EXPECT_FALSE(q.Apply({}));
}

TEST(UpsCommandTick, SecShutdownSequenceWithWaits) {
    CommandQueue q;
    q.SetLinkKind(LinkKind::kSec);
    q.SetShutdown(120, 5);
    auto a = q.Tick({.link = LinkKind::kSec});
    EXPECT_EQ(
        a.sends,
        (std::vector<TimedSend>{
            {"^S004ATR1", 500}, {"^S004SDA1", 500}, {"^S006RWD120", 10}, {"^S006PSD120", 0}}));
    q.SetShutdown(120, 0);
    a = q.Tick({.link = LinkKind::kSec});
    EXPECT_EQ(Texts(a), (std::vector<std::string>{"^S004ATR1", "^S004SDA1", "^S006PSD120"}));
}

TEST(UpsCommandTick, UsbRequests) {
    CommandQueue q;
    q.SetLinkKind(LinkKind::kUsb);
    const TickInput usb{.link = LinkKind::kUsb};
    q.SetShutdown(300, 7);
    EXPECT_EQ(q.Tick(usb).usb, (UsbRequest{kUsbShutdown, 300, 7}));
    EXPECT_EQ(q.Tick(usb).usb, (UsbRequest{kUsbStatus, 2, 1}));
    q.Apply({.shutdownConfirmed = true});
    // The helper numbers its tests its own way: -1 ten seconds, -2 until battery low.
    for (auto [minutes, value] : {std::pair{0, -1}, std::pair{-1, -2}, std::pair{12, 12}}) {
        q.StartTest(minutes);
        EXPECT_EQ(q.Tick(usb).usb, (UsbRequest{kUsbSelfTest, value, 0})) << minutes;
        EXPECT_EQ(q.snapshot().selfTest, 0);  // the helper needs no repeats
    }
}

TEST(UpsCommandTick, OrderOfServiceAndSingleShotCommands) {
    CommandQueue q;
    EXPECT_EQ(q.ToggleBeeper(), "Toggle beeper\n");
    q.StartTest(5);
    EXPECT_EQ(q.CancelTest(), "Cancel test\n");  // drops the queued test
    q.SetShutdown(30, 0);
    EXPECT_EQ(q.snapshot().testText, "");
    std::vector<Served> order;
    std::vector<std::vector<std::string>> sent;
    for (int i = 0; i < 9; ++i) {
        const auto a = q.Tick({});
        order.push_back(a.served);
        sent.push_back(Texts(a));
    }
    EXPECT_EQ(order, (std::vector<Served>{Served::kShutdown, Served::kShutdown, Served::kShutdown,
                                          Served::kShutdown, Served::kShutdown, Served::kShutdown,
                                          Served::kCancelTest, Served::kBeeper, Served::kPoll}));
    EXPECT_EQ(sent[6], std::vector<std::string>{"CT\r"});
    EXPECT_EQ(sent[7], std::vector<std::string>{"Q\r"});
}

TEST(UpsCommandTick, SelfTestRepeatsUntilTheUpsReportsIt) {
    CommandQueue q;
    q.StartTest(5);
    EXPECT_EQ(Texts(q.Tick({})), std::vector<std::string>{"T05\r"});
    EXPECT_TRUE(q.selfTestCommandSent());
    EXPECT_EQ(Texts(q.Tick({})), std::vector<std::string>{"Q1\r"});
    EXPECT_EQ(Texts(q.Tick({})), std::vector<std::string>{"T05\r"});
    q.Apply({.selfTestConfirmed = true});
    EXPECT_FALSE(q.selfTestCommandSent());
    EXPECT_EQ(q.Tick({}).served, Served::kPoll);

    // A test started at the UPS itself drops ours.
    q.StartTest(0);
    q.Apply({.selfTestStarted = true});
    EXPECT_EQ(q.snapshot().selfTest, 0);
    EXPECT_EQ(q.snapshot().testText, "");
}

TEST(UpsCommandTick, SecCommandsThatNeedAnAcknowledgement) {
    CommandQueue q;
    q.SetLinkKind(LinkKind::kSec);
    const TickInput sec{.link = LinkKind::kSec};
    q.StartTest(5);
    auto a = q.Tick(sec);
    EXPECT_EQ(a.secAcknowledged, "^S004TST1");
    q.OnSelfTestAcknowledged();
    EXPECT_EQ(q.Tick(sec).served, Served::kPoll);
    q.ToggleBeeper();
    EXPECT_EQ(q.Tick(sec).secAcknowledged, "^S011NOM,,,,,,,2");
    q.CancelTest();
    EXPECT_EQ(Texts(q.Tick(sec)), std::vector<std::string>{"^S005TST-1"});
}

TEST(UpsRegularPoll, ElevenSlotsWithRatingAndBasicInfo) {
    CommandQueue q;
    std::vector<std::string> sent;
    std::vector<bool> info;
    for (int i = 0; i < 12; ++i) {
        const auto a = q.Tick({});
        ASSERT_EQ(a.sends.size(), 1u);
        sent.push_back(a.sends[0].text);
        info.push_back(a.infoQuerySent);
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"Q1\r", "F\r", "Q1\r", "I\r", "Q1\r", "Q1\r", "Q1\r",
                                              "Q1\r", "Q1\r", "Q1\r", "Q1\r", "Q1\r"}));
    EXPECT_EQ(info, (std::vector<bool>{false, true, false, true, false, false, false, false, false,
                                       false, false, false}));
}

}  // namespace
}  // namespace torvane
