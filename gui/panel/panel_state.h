// What the control panel shows of the agent: the status labels, the two clocks, the status
// pictures, the picture page's state and the message list, and the last copy of every record the
// agent sent. Every record that arrives goes through Apply, which changes this state as the
// panel's reaction table says and tells the dialog what else to do (send a request, reconnect,
// ask about a wrong password). No widget lives here: the dialog draws from it, and tests read it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ups_lib/close_info.h"
#include "ups_lib/config.h"
#include "ups_lib/link_message.h"
#include "ups_lib/log_records.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"
#include "ups_lib/ups_records.h"

namespace kelvora::panel {

// The six status labels, then the labels of the two clocks.
enum class Label { Connection, Utility, Battery, Fault, SelfTest, Avr, OnBattery, Countdown };
inline constexpr std::size_t kLabelCount = 8;

// The status panel's animated pictures.
enum class Picture { Earth, Disconnected, AcFail, BatteryLow, UpsBad, UpsAvr, UpsTest };
inline constexpr std::size_t kPictureCount = 7;

// The picture page's states: the UPS drawn in its current mode.
enum PictureMode : int {
    kOnlineNormal = 1,
    kOnlineFail = 2,
    kOnlineBypass = 3,
    kStandbyNormal = 4,
    kStandbyFail = 5,
    kStandbyAvr = 6,
};

// Which link a record came over: a few texts differ between the two.
enum class Via { Socket, CopyData };

struct LabelState {
    std::string text;
    bool enabled = false;
};

struct PictureState {
    bool running = false;
    bool enabled = true;
};

struct ClockState {
    std::string text = "00:00:00";
    bool enabled = false;
};

// What the dialog must do beyond drawing the state anew.
struct Effects {
    std::vector<std::vector<std::uint8_t>> send;  // messages for the agent, in order
    bool dropLink = false;                        // the agent closed or refused us
    bool reconnect = false;                       // and try the same agent again at once
    bool askWrongPassword = false;                // "Wrong Password, modify password ..."
    bool startOnBatteryClock = false;             // timer 115
    bool stopOnBatteryClock = false;
    bool configChanged = false;  // a record for the dialogs arrived
    bool msgTabChanged = false;
    bool eventLogChanged = false;
    bool scheduleChanged = false;
    bool dataLogChanged = false;
    bool closeInfoChanged = false;
};

// The message list keeps this many lines, the oldest going first: with the raw replies shown a
// line comes every two seconds, and a panel left open for months must not grow without end.
inline constexpr std::size_t kMaxMessages = 10000;

// A span of seconds as "%H:%M:%S" would print it: hours within the day; a negative span
// carries minus signs, which is how the countdown tells one.
std::string FormatSpan(std::int64_t seconds);

class PanelState {
  public:
    // `now`: calendar seconds (tests hand in their own clock).
    explicit PanelState(std::function<std::int64_t()> now = nullptr);

    Effects Apply(const ups::link::Message& message, Via via);

    // Before every connection attempt; and when the link is lost.
    void ConnectReset();
    void DisconnectedReset();
    // Timer 115, once a second while the utility has failed.
    void TickOnBatteryClock();
    // A line of the message list, with the time in front; the newest is first.
    void AddMessage(const std::string& text);
    // The meter page's click on the temperature gauge: shows the raw replies, or stops.
    void ToggleRawReplies();

    const LabelState& label(Label l) const { return labels_[static_cast<std::size_t>(l)]; }
    const PictureState& picture(Picture p) const { return pictures_[static_cast<std::size_t>(p)]; }
    const ClockState& onBatteryClock() const { return onBattery_; }
    const ClockState& countdownClock() const { return countdown_; }
    const std::deque<std::string>& messages() const { return messages_; }
    // Every line ever added, also those the list has let go.
    std::uint64_t messagesAdded() const { return messagesAdded_; }
    int pictureMode() const { return pictureMode_; }
    bool connected() const { return connected_; }
    bool utilityNormal() const { return utilityNormal_; }
    bool batteryNormal() const { return batteryNormal_; }
    bool online() const { return online_; }
    bool showRawReplies() const { return showRaw_; }
    // The picture page animates while the UPS is connected.
    bool pictureAnimating() const { return animating_; }

    // The records as last received.
    const ups::UPSStatusValues& status() const { return status_; }
    const ups::UPSBasicValues& basic() const { return basic_; }
    const ups::UPSRatingValues& rating() const { return rating_; }
    const ups::CConfig& config() const { return config_; }
    ups::CConfig& config() { return config_; }
    const ups::CMsgTab& msgTab() const { return msgTab_; }
    ups::CMsgTab& msgTab() { return msgTab_; }
    const std::vector<ups::CEventLogRecord>& eventLog() const { return eventLog_; }
    const ups::CSchedule& schedule() const { return schedule_; }
    ups::CSchedule& schedule() { return schedule_; }
    const std::vector<ups::CDataLogRecord>& dataLog() const { return dataLog_; }
    const ups::CCloseInfo& closeInfo() const { return closeInfo_; }

  private:
    LabelState& At(Label l) { return labels_[static_cast<std::size_t>(l)]; }
    PictureState& At(Picture p) { return pictures_[static_cast<std::size_t>(p)]; }
    void Start(Picture p) { At(p).running = true; }
    void StopAndReset(Picture p) { At(p).running = false; }
    void Connected();
    void NotConnected();
    void PowerFail(Effects& e);
    void PowerNormal(Effects& e);
    void BatteryLow();
    void BatteryNormal();
    void AvrOn();
    void AvrOff();
    void Countdown(std::int32_t seconds);
    void CountdownStopped();

    std::function<std::int64_t()> now_;
    std::array<LabelState, kLabelCount> labels_;
    std::array<PictureState, kPictureCount> pictures_;
    ClockState onBattery_;
    ClockState countdown_;
    std::deque<std::string> messages_;
    std::uint64_t messagesAdded_ = 0;
    int pictureMode_ = kOnlineNormal;
    bool connected_ = false;
    bool utilityNormal_ = true;
    bool batteryNormal_ = true;
    bool online_ = true;
    bool boost_ = false;
    bool buck_ = false;
    bool bypassShown_ = false;
    bool showRaw_ = false;
    bool animating_ = false;
    std::int64_t failedAt_ = 0;

    ups::UPSStatusValues status_;
    ups::UPSBasicValues basic_;
    ups::UPSRatingValues rating_;
    std::string basicRaw_;   // without carriage returns
    std::string ratingRaw_;  // without carriage returns
    ups::CConfig config_;
    ups::CMsgTab msgTab_;
    std::vector<ups::CEventLogRecord> eventLog_;
    ups::CSchedule schedule_;
    std::vector<ups::CDataLogRecord> dataLog_;
    ups::CCloseInfo closeInfo_;
};

}  // namespace kelvora::panel
