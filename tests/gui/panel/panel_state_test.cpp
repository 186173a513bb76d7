// The panel's reactions to what the agent sends, on a clock of the test's own.
#include <gtest/gtest.h>

#include "gui/panel/panel_state.h"

namespace kelvora::panel {
namespace {

namespace lk = ups::link;

lk::Message Code(std::int32_t code, std::int32_t number = 0) {
    lk::Message m;
    m.code = code;
    m.number = number;
    return m;
}

class PanelStateTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("TZ", "UTC", 1); }
    Effects Get(std::int32_t code, std::int32_t number = 0, Via via = Via::Socket) {
        return state_.Apply(Code(code, number), via);
    }
    std::int64_t now_ = 1'000'000'000;  // 2001/09/09 01:46:40 UTC
    PanelState state_{[this] { return now_; }};
};

TEST_F(PanelStateTest, ConnectedThenAUtilityFailureStartsTheOnBatteryClockAndPowerNormalStopsIt) {
    Get(lk::kConnected);
    EXPECT_TRUE(state_.connected());
    EXPECT_EQ(state_.label(Label::Connection).text, "UPS和電腦連線");
    EXPECT_TRUE(state_.label(Label::Utility).enabled);
    EXPECT_TRUE(state_.picture(Picture::Earth).running);
    EXPECT_FALSE(state_.picture(Picture::Disconnected).running);

    Effects failed = Get(lk::kUtilityFailed);
    EXPECT_TRUE(failed.startOnBatteryClock);
    EXPECT_EQ(state_.label(Label::Utility).text, "市電中斷");
    EXPECT_TRUE(state_.label(Label::OnBattery).enabled);
    EXPECT_TRUE(state_.picture(Picture::AcFail).running);
    EXPECT_EQ(state_.pictureMode(), kOnlineFail);
    now_ += 3725;  // 1 h 2 min 5 s on battery
    state_.TickOnBatteryClock();
    EXPECT_EQ(state_.onBatteryClock().text, "01:02:05");
    EXPECT_TRUE(state_.onBatteryClock().enabled);

    Effects back = Get(lk::kUtilityRestored);
    EXPECT_TRUE(back.stopOnBatteryClock);
    EXPECT_EQ(state_.onBatteryClock().text, "00:00:00");
    EXPECT_FALSE(state_.onBatteryClock().enabled);
    EXPECT_FALSE(state_.label(Label::OnBattery).enabled);
    EXPECT_EQ(state_.label(Label::Utility).text, "市電正常");
    EXPECT_FALSE(state_.picture(Picture::AcFail).running);
    EXPECT_EQ(state_.pictureMode(), kOnlineNormal);
}

TEST_F(PanelStateTest, TheMessageListHasTheNewestFirstWithItsTime) {
    Get(lk::kConnected);
    now_ += 61;
    Get(lk::kUtilityFailed);
    ASSERT_EQ(state_.messages().size(), 2u);
    EXPECT_EQ(state_.messages()[0], "2001/09/09 01:47:41  Power Fail");
    EXPECT_EQ(state_.messages()[1], "2001/09/09 01:46:40  UPS Connected");
    // A list left to grow keeps its newest lines only.
    for (std::size_t i = 0; i < kMaxMessages; ++i) state_.AddMessage(std::to_string(i));
    EXPECT_EQ(state_.messages().size(), kMaxMessages);
    EXPECT_TRUE(state_.messages().front().ends_with("  " + std::to_string(kMaxMessages - 1)));
    EXPECT_TRUE(state_.messages().back().ends_with("  0"));
}

TEST_F(PanelStateTest, TheCountdownShowsItsSpanAndANegativeOneStopsIt) {
    Get(lk::kCountdown, 100);
    EXPECT_EQ(state_.countdownClock().text, "00:01:40");
    EXPECT_TRUE(state_.countdownClock().enabled);
    EXPECT_TRUE(state_.label(Label::Countdown).enabled);
    Get(lk::kCountdown, -5);
    EXPECT_EQ(state_.countdownClock().text, "00:00:00");
    EXPECT_FALSE(state_.countdownClock().enabled);
    EXPECT_FALSE(state_.label(Label::Countdown).enabled);
    EXPECT_NE(state_.messages().front().find("Shutdown Countdown stopped"), std::string::npos);
}

TEST_F(PanelStateTest, BoostBuckAndBypassSetTheAvrLabelByTheUpsType) {
    Get(lk::kStandbyType);
    Get(lk::kBoosting);
    EXPECT_EQ(state_.label(Label::Avr).text, "升壓");
    EXPECT_TRUE(state_.label(Label::Avr).enabled);
    EXPECT_TRUE(state_.picture(Picture::UpsAvr).running);
    EXPECT_EQ(state_.pictureMode(), kStandbyAvr);
    Get(lk::kBucking);
    EXPECT_EQ(state_.label(Label::Avr).text, "降壓");
    Get(lk::kNoBoostBuck, 0, Via::Socket);
    EXPECT_FALSE(state_.label(Label::Avr).enabled);
    EXPECT_FALSE(state_.picture(Picture::UpsAvr).running);
    EXPECT_EQ(state_.pictureMode(), kStandbyNormal);
    EXPECT_NE(state_.messages().front().find("UPS not in Boost or Buck mode"), std::string::npos);
    Get(lk::kNoBoostBuck, 0, Via::CopyData);
    EXPECT_NE(state_.messages().front().find("UPS not in Boost or Buck Mode"), std::string::npos);

    Get(lk::kOnlineType);
    Get(lk::kOnBypass);
    EXPECT_EQ(state_.label(Label::Avr).text, "Bypass模式");
    EXPECT_EQ(state_.pictureMode(), kOnlineBypass);
    // Power back while on bypass shows the bypass picture, not the normal one.
    Get(lk::kUtilityFailed);
    Get(lk::kUtilityRestored);
    EXPECT_EQ(state_.pictureMode(), kOnlineBypass);
    Get(lk::kNotOnBypass);
    EXPECT_FALSE(state_.label(Label::Avr).enabled);
    EXPECT_EQ(state_.pictureMode(), kOnlineNormal);
}

TEST_F(PanelStateTest, NotConnectedResetsThePanelAndGreysItsLabels) {
    Get(lk::kConnected);
    Get(lk::kUtilityFailed);
    Get(lk::kBatteryLow);
    Get(lk::kNotConnected);
    EXPECT_FALSE(state_.connected());
    EXPECT_EQ(state_.label(Label::Connection).text, "UPS和電腦斷線");
    EXPECT_TRUE(state_.label(Label::Connection).enabled);
    EXPECT_FALSE(state_.label(Label::Utility).enabled);
    EXPECT_EQ(state_.label(Label::Battery).text, "電池電位正常");
    EXPECT_TRUE(state_.picture(Picture::Disconnected).running);
    EXPECT_FALSE(state_.picture(Picture::Earth).running);
    EXPECT_FALSE(state_.picture(Picture::BatteryLow).running);
    EXPECT_FALSE(state_.pictureAnimating());
}

TEST_F(PanelStateTest, AgentClosedAndWrongPasswordTellTheDialogWhatToDo) {
    Effects closed = Get(lk::kGoodbye, 0, Via::Socket);
    EXPECT_TRUE(closed.dropLink);
    EXPECT_TRUE(closed.reconnect);
    EXPECT_NE(state_.messages().front().find("Remote Agent Closed"), std::string::npos);
    Effects local = Get(lk::kGoodbye, 0, Via::CopyData);
    EXPECT_FALSE(local.reconnect);
    EXPECT_NE(state_.messages().front().find("Local Agent Closed"), std::string::npos);

    Effects wrong = Get(lk::kWrongPassword);
    EXPECT_TRUE(wrong.dropLink);
    EXPECT_TRUE(wrong.askWrongPassword);
    ASSERT_EQ(wrong.send.size(), 1u);
    EXPECT_EQ(wrong.send[0], lk::Encode(lk::kGoodbye));
    // Unknown codes, and records without their record, change nothing.
    const auto before = state_.messages().size();
    Effects none = Get(99);
    Effects empty = Get(lk::kConfig);
    EXPECT_TRUE(none.send.empty());
    EXPECT_FALSE(empty.configChanged);
    EXPECT_EQ(state_.messages().size(), before);
}

TEST_F(PanelStateTest, TheConfigurationAsksForTheMessagesAndRawRepliesShowWhenAsked) {
    lk::Message config = Code(lk::kConfig);
    auto record = std::make_unique<ups::CConfig>();
    record->acFailDelay = 7;
    config.record = std::move(record);
    Effects e = state_.Apply(config, Via::Socket);
    EXPECT_TRUE(e.configChanged);
    EXPECT_EQ(state_.config().acFailDelay, 7);
    ASSERT_EQ(e.send.size(), 1u);
    EXPECT_EQ(e.send[0], lk::Encode(lk::kGetMsgTab));

    lk::Message rating = Code(lk::kRatingInfo);
    auto r = std::make_unique<ups::CUPSRatingInfo>();
    ups::UPSRatingValues values;
    values.rawLine = "#230.0 004 24.00 50.0\r";
    r->Set(values);
    rating.record = std::move(r);
    state_.Apply(rating, Via::Socket);
    state_.ToggleRawReplies();
    EXPECT_NE(state_.messages().front().find("  #230.0 004 24.00 50.0"), std::string::npos);
    EXPECT_EQ(state_.messages().front().find('\r'), std::string::npos);
}

}  // namespace
}  // namespace kelvora::panel
