#include "frame_reactions.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "udp_bits.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/log_records.h"

namespace torvane {

namespace {

using ups::CEventLogRecord;

struct Row {
    int code;
    std::optional<EventEntry> log;
    int link;
    int warning_kind;
    int alert_kind;
    int udp;
};

// clang-format off
// code                          event log                                                  link code               box  alert                  UDP bit
constexpr std::array<Row, 20> kTable{{
    {kNotifyDisconnected,       {},                                                        kLinkDisconnected,      -1, -1,                     0},
    {kNotifyStandby,            {},                                                        kLinkStandby,           -1, -1,                     0},
    {kNotifyOnline,             {},                                                        kLinkOnline,            -1, -1,                     0},
    {kNotifyTestStarted,        EventEntry{ups::kEvSelfTest, CEventLogRecord::kInformation}, kLinkTestStarted,     -1, -1,                     0},
    {kNotifyTestDone,           {},                                                        kLinkTestDone,          -1, -1,                     0},
    {kNotifyUpsFailed,          EventEntry{ups::kEvUpsFailure, CEventLogRecord::kInformation}, kLinkUpsFailed,     -1, kKindUpsFailure,        0},
    {kNotifyUpsGood,            {},                                                        kLinkUpsGood,           -1, -1,                     0},
    {kNotifyBoost,              {},                                                        kLinkBoost,             -1, -1,                     0},
    {kNotifyBuck,               {},                                                        kLinkBuck,              -1, -1,                     0},
    {kNotifyBypass,             {},                                                        kLinkBypass,            -1, -1,                     0},
    {kNotifyBoostBuckEnded,     {},                                                        kLinkBoostBuckEnded,    -1, -1,                     0},
    {kNotifyBypassEnded,        {},                                                        kLinkBypassEnded,       -1, -1,                     0},
    {kNotifyBatteryLow,         EventEntry{ups::kEvBatteryLow, CEventLogRecord::kWarning}, kLinkBatteryLow,        -1, kKindBatteryLow,        kUdpBitBatteryLow},
    {kNotifyBatteryRecovered,   EventEntry{ups::kEvBatteryRecovered, CEventLogRecord::kInformation}, kLinkBatteryRecovered, kKindBatteryRecovered, kKindBatteryRecovered, kUdpBitBatteryRecovered},
    {kNotifyAcFail,             EventEntry{ups::kEvAcFailure, CEventLogRecord::kWarning},  kLinkAcFail,            -1, kKindAcFail,            kUdpBitAcFail},
    {kNotifyAcRestored,         EventEntry{ups::kEvAcRestored, CEventLogRecord::kInformation}, kLinkAcRestored,    kKindAcRestored, kKindAcRestored, kUdpBitAcRestored},
    {kNotifyStatus,             {},                                                        kLinkStatus,            -1, -1,                     0},
    {kNotifyBasicInfo,          {},                                                        kLinkBasicInfo,         -1, -1,                     0},
    {kNotifyRatingInfo,         {},                                                        kLinkRatingInfo,        -1, -1,                     0},
    {kNotifyScheduleWarning,    {},                                                        0,                      -1, kKindScheduleWarning,   kUdpBitScheduledShutdown},
}};
// clang-format on

const Row* Find(int code) {
    for (const Row& row : kTable) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

}  // namespace

FrameReactions::FrameReactions(std::function<std::int64_t()> now) : now_(std::move(now)) {}

std::vector<int> StateBurst(const UpsView& ups) {
    std::vector<int> codes;
    if (ups.ac_fail) codes.push_back(kLinkAcFail);
    if (ups.battery_low) codes.push_back(kLinkBatteryLow);
    if (ups.self_test) codes.push_back(kLinkTestStarted);
    if (ups.standby) {
        codes.push_back(kLinkStandby);
        if (ups.boost) {
            codes.push_back(kLinkBoost);
        } else if (ups.buck) {
            codes.push_back(kLinkBuck);
        }
    } else {
        codes.push_back(kLinkOnline);
        if (ups.bypass) codes.push_back(kLinkBypass);
    }
    return codes;
}

void FrameReactions::CountdownBox(Reaction& r, int seconds, bool always,
                                  const ReactionSettings& s) {
    if (!s.show_warnings) return;
    const std::int64_t now = now_();
    if (!always && box_shown_ && now - last_box_ < s.warn_repeat_seconds) return;
    r.countdown_box = true;
    r.countdown_seconds = seconds;
    last_box_ = now;
    box_shown_ = true;
}

Reaction FrameReactions::OnNotify(int code, int value, const UpsView& ups,
                                  const ReactionSettings& s) {
    const std::int64_t now = now_();
    if (first_) {
        // The data log counts its interval from the first notification after start.
        first_ = false;
        last_sample_ = now;
    }
    Reaction r;
    if (const Row* row = Find(code)) {
        r.log = row->log;
        if (row->link != 0) r.link_codes.push_back(row->link);
        if (s.show_warnings) r.warning_kind = row->warning_kind;
        r.alert_kind = row->alert_kind;
        r.udp_bits = row->udp;
    }
    switch (code) {
        case kNotifyConnected:
            r.link_codes.push_back(kLinkConnected);
            for (int c : StateBurst(ups)) r.link_codes.push_back(c);
            break;
        case kNotifyInfoUnanswered:
            r.read_model_info = true;
            break;
        case kNotifyBatteryLow:
            r.shut_down_at_once = true;
            break;
        case kNotifyStatus:
            if (s.data_log_on && now - last_sample_ >= s.data_log_interval_seconds) {
                last_sample_ = now;
                r.data_log_sample = true;
            }
            break;
        case kNotifyCountdownStart:
            CountdownBox(r, value, true, s);
            break;
        case kNotifyCountdownStop:
            r.link_codes.push_back(kLinkCountdownStopped);
            r.udp_bits = kUdpBitCountdownStopped;
            last_countdown_ = 0;
            closing_started_ = false;
            break;
        case kNotifyCountdown:
            r.link_codes.push_back(kLinkCountdown);
            r.countdown_seconds = value;
            r.udp_bits = kUdpBitCountdown;
            CountdownBox(r, value, value == 0, s);
            r.countdown_seconds = value;
            if (value == 0 && !closing_started_) {
                // Once per countdown: a later zero of the same countdown closes nothing twice.
                closing_started_ = true;
                r.start_closing = true;
            }
            last_countdown_ = value;
            break;
        case kNotifyScheduleWarningEnd:
            if (s.show_warnings) r.warning_kind = kKindScheduleCancelled;
            r.alert_kind = kKindScheduleCancelled;
            r.udp_bits = kUdpBitScheduleCancelled;
            break;
        default:
            break;
    }
    return r;
}

std::string CountdownBoxText(const std::array<std::string, 7>& texts, bool ac_fail,
                             bool battery_low, bool scheduled, int seconds) {
    std::string text;
    if (ac_fail) text += texts[kKindAcFail] + "\n";
    if (battery_low) text += texts[kKindBatteryLow] + "\n";
    if (scheduled) text += texts[kKindScheduleWarning] + "\n";
    const int left = std::max(seconds, 0);
    const int days = left / 86400;
    const int hours = left / 3600 % 24;
    const int minutes = left / 60 % 60;
    const int secs = left % 60;
    char remaining[80];
    if (days == 0) {
        std::snprintf(remaining, sizeof remaining, "\nTime remaining: %02d:%02d:%02d", hours,
                      minutes, secs);
    } else {
        std::snprintf(remaining, sizeof remaining, "\nTime remaining: %d %s, %02d:%02d:%02d", days,
                      days == 1 ? "Day" : "Days", hours, minutes, secs);
    }
    return text + remaining;
}

int RestoreMinutes(bool power_problem, std::optional<std::int64_t> next_power_on, std::int64_t now,
                   int delay_seconds) {
    if (power_problem) return 0;
    if (!next_power_on) return 9999;
    const std::int64_t minutes = (*next_power_on - now) / 60;
    if (minutes < 0) return static_cast<int>(std::max<std::int64_t>(minutes, -9999));
    // A power-on within the current minute still needs a restart, not "no restart" (0): the
    // UPS would otherwise stay off until someone switched it on by hand.
    return static_cast<int>(std::clamp<std::int64_t>(minutes - delay_seconds / 60, 1, 9999));
}

bool ScheduledTestWatch::Due(std::int64_t now,
                             const std::function<std::int64_t(std::int64_t from)>& next) {
    // The first look, and one after the clock went back, cover the current second only.
    if (last_ == 0 || now < last_) last_ = now - 1;
    const std::int64_t from = std::max(last_ + 1, now - kLongestLookBack);
    last_ = now;
    const std::int64_t at = next(from);
    return at > 0 && at <= now;
}

}  // namespace torvane
