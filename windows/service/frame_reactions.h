// What the main frame does about each notification of the UPS object: event-log entries, link
// messages to clients, warning and countdown boxes, alerts, UDP bits, and the steps toward the
// shutdown. Decided here over an injected clock; the frame carries the decisions out.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ups_lib/link_codes.h"

namespace torvane {

// Codes the UPS object posts (WM_UPS_NOTIFY's lParam).
enum UpsNotify : int {
    kNotifyConnected = 1,
    kNotifyDisconnected = 2,
    kNotifyBasicReply = 3,
    kNotifyInfoUnanswered = 4,
    kNotifyStandby = 5,
    kNotifyOnline = 6,
    kNotifyBeeperOn = 7,
    kNotifyBeeperOff = 8,
    kNotifyUpsShutdown = 9,
    kNotifyUpsShutdownAborted = 10,
    kNotifyTestStarted = 11,
    kNotifyTestDone = 12,
    kNotifyUpsFailed = 13,
    kNotifyUpsGood = 14,
    kNotifyBoost = 15,
    kNotifyBuck = 16,
    kNotifyBypass = 17,
    kNotifyBoostBuckEnded = 18,
    kNotifyBypassEnded = 19,
    kNotifyBatteryLow = 20,
    kNotifyBatteryRecovered = 21,
    kNotifyAcFail = 22,
    kNotifyAcRestored = 23,
    kNotifyStatus = 24,
    kNotifyBasicInfo = 25,
    kNotifyRatingInfo = 26,
    kNotifyCountdownStart = 27,
    kNotifyCountdownStop = 28,
    kNotifyCountdown = 29,
    kNotifyScheduleWarning = 32,
    kNotifyScheduleWarningEnd = 33,
};

// Link codes the frame sends to its clients, by the names of its notifications.
enum LinkCode : int {
    kLinkStatus = ups::link::kStatus,  // with CUPSStatus
    kLinkBasicInfo = ups::link::kBasicInfo,
    kLinkRatingInfo = ups::link::kRatingInfo,
    kLinkConnected = ups::link::kConnected,
    kLinkDisconnected = ups::link::kNotConnected,
    kLinkTestStarted = ups::link::kTestRunning,
    kLinkTestDone = ups::link::kTestFinished,
    kLinkAcFail = ups::link::kUtilityFailed,
    kLinkAcRestored = ups::link::kUtilityRestored,
    kLinkBatteryLow = ups::link::kBatteryLow,
    kLinkBatteryRecovered = ups::link::kBatteryLowCleared,
    kLinkCountdown = ups::link::kCountdown,  // with the seconds left
    kLinkCountdownStopped = ups::link::kCountdownStopped,
    kLinkUpsFailed = ups::link::kUpsFailure,
    kLinkUpsGood = ups::link::kUpsGood,
    kLinkStandby = ups::link::kStandbyType,
    kLinkOnline = ups::link::kOnlineType,
    kLinkBoost = ups::link::kBoosting,
    kLinkBuck = ups::link::kBucking,
    kLinkBoostBuckEnded = ups::link::kNoBoostBuck,
    kLinkBypass = ups::link::kOnBypass,
    kLinkBypassEnded = ups::link::kNotOnBypass,
};

// Alert kinds: they choose the warning text, address and pager number of the notification
// record, and the e-mail event.
enum AlertKind : int {
    kKindAcFail = 0,
    kKindBatteryLow = 1,
    kKindAcRestored = 2,
    kKindBatteryRecovered = 3,
    kKindScheduleWarning = 4,
    kKindScheduleCancelled = 5,
    kKindUpsFailure = 6,
};

// The UPS as the frame sees it when it tells a newly connected client the state.
struct UpsView {
    bool ac_fail = false;
    bool battery_low = false;
    bool self_test = false;
    bool standby = false;
    bool boost = false;
    bool buck = false;
    bool bypass = false;
};

// The configuration fields the reactions depend on.
struct ReactionSettings {
    bool show_warnings = false;
    int warn_repeat_seconds = 30;
    bool data_log_on = false;
    int data_log_interval_seconds = 30;
};

struct EventEntry {
    std::uint32_t id;
    std::uint16_t type;  // CEventLogRecord::Type
    bool operator==(const EventEntry&) const = default;
};

struct Reaction {
    std::optional<EventEntry> log;
    std::vector<int> link_codes;  // in the order they go out
    int countdown_seconds = 0;    // the value sent with kLinkCountdown
    int warning_kind = -1;        // a warning box with this kind's text
    bool countdown_box = false;
    int alert_kind = -1;
    int udp_bits = 0;
    bool read_model_info = false;
    bool data_log_sample = false;
    bool shut_down_at_once = false;  // battery low: no countdown, no closing of applications
    bool start_closing = false;      // the countdown ran out
};

class FrameReactions {
  public:
    explicit FrameReactions(std::function<std::int64_t()> now);

    Reaction OnNotify(int code, int value, const UpsView& ups, const ReactionSettings& settings);

    int last_countdown() const { return last_countdown_; }

  private:
    void CountdownBox(Reaction& r, int seconds, bool always, const ReactionSettings& s);

    std::function<std::int64_t()> now_;
    bool first_ = true;
    std::int64_t last_sample_ = 0;
    std::int64_t last_box_ = 0;
    bool box_shown_ = false;
    int last_countdown_ = 0;
    bool closing_started_ = false;
};

// The codes that tell a client what holds right now, after kLinkConnected.
std::vector<int> StateBurst(const UpsView& ups);

// The countdown box: the warning texts of the conditions that hold, each on its own line, then
// the time left. `texts` are the notification record's texts by kind.
std::string CountdownBoxText(const std::array<std::string, 7>& texts, bool ac_fail,
                             bool battery_low, bool scheduled, int seconds);

// Minutes until the UPS is to come back after its shut-down: 0 when the utility failed or the
// battery is low (it returns with the utility), 9999 when the schedule has no power-on time,
// otherwise the whole minutes to it less the shut-down delay, kept within 1..9999. A power-on
// time that has passed gives a negative value, which SetShutdown refuses.
int RestoreMinutes(bool power_problem, std::optional<std::int64_t> next_power_on, std::int64_t now,
                   int delay_seconds);

// When a scheduled self-test is due. The frame looks once a second, but a look can come late
// (a busy machine, a wall clock that steps): every occurrence since the previous look counts,
// once, so a late look neither misses a test nor starts one twice. A look after a long gap (a
// machine woken from sleep, a clock set ahead) does not start a test that was due long ago.
class ScheduledTestWatch {
  public:
    static constexpr std::int64_t kLongestLookBack = 120;  // seconds
    // `next(from)`: the schedule's first self-test at or after `from`, 0 or less for none.
    // True when one falls after the previous look and no later than `now`.
    bool Due(std::int64_t now, const std::function<std::int64_t(std::int64_t from)>& next);

  private:
    std::int64_t last_ = 0;  // the previous look; 0 before the first
};

}  // namespace torvane
