#include "state_machine.h"

#include <cstdio>

namespace {

constexpr const char* kAcFails = "AC Power Fails! UPS provides power!";
constexpr const char* kBatteryLowText = "UPS Battery low!!";
constexpr const char* kAcRecovered = "AC Power recovered!";
constexpr const char* kBatteryRecovered = "UPS Battery recovered!";
constexpr const char* kStops = "Shutdown Stops! System Returns to Normal State!";
constexpr const char* kScheduledText = "Scheduled time to shutdown!";
constexpr const char* kCountdownPrefix = "System will be shut down in ";

}  // namespace

int SampleRing::Check(std::string& reply, std::size_t position) {
    char sample = '2';
    if (position < reply.size()) {
        if (reply[position] != '0' && reply[position] != '1') reply[position] = '2';
        sample = reply[position];
    }
    samples_[next_] = sample;
    next_ = (next_ + 1) % 4;
    bool all_one = true, all_zero = true;
    for (char s : samples_) {
        all_one = all_one && s == '1';
        all_zero = all_zero && s == '0';
    }
    return all_one ? kPresent : all_zero ? kAbsent : kUndecided;
}

void PowerStateMachine::StateTransition(std::string& reply, const UpsConfig& config,
                                        int64_t next_shutdown) {
    switch (state_) {
        case kNormal:
            StepNormal(reply, config, next_shutdown);
            break;
        case kAcFailure:
            StepAcFailure(reply, config);
            break;
        case kBatteryLow:
            StepBatteryLow(reply, config);
            break;
        case kAcFailureAndBatteryLow:
            StepBoth(reply, config);
            break;
        case kScheduledPending:
            StepScheduled(reply, config, next_shutdown);
            break;
        default:
            break;  // shutting down: there is no way back
    }
}

void PowerStateMachine::WhileSilent() {
    if (state_ < kAcFailure || state_ > kScheduledPending || now_() < deadline_) return;
    state_ = kShutDownNow;
    events_.ShutDownNow(scheduled_);
}

int PowerStateMachine::CountDown(int countdown_on) {
    const int64_t now = now_();
    if (now >= deadline_) return 1;
    const int64_t remaining = deadline_ - now;
    const int minutes = static_cast<int>((remaining - 1) / 60 + 1);
    char text[96];
    if (remaining <= 30 && countdown_on != 0) {
        int seconds = static_cast<int>(remaining);
        std::snprintf(text, sizeof text, seconds > 1 ? "%s%2d Seconds!!" : "%s%2d Second!! ",
                      kCountdownPrefix, seconds);
        events_.Warn(text, false);
        return 0;
    }
    if (minutes == last_minutes_) return 0;
    last_minutes_ = minutes;
    std::snprintf(text, sizeof text, minutes > 1 ? "%s%2d Minutes! " : "%s%2d Minute!  ",
                  kCountdownPrefix, minutes);
    events_.Warn(text, true);
    return 0;
}

void PowerStateMachine::StepNormal(std::string& reply, const UpsConfig& config,
                                   int64_t next_shutdown) {
    const int64_t now = now_();
    if (ChkACFail(reply) == kPresent) {
        MoveDeadline(now + int64_t{config.acfail_delay} * 60);
        StartEvent(kAcFails, '1', kAcFailure);
    } else if (ChkBatteryLow(reply) == kPresent) {
        MoveDeadline(now + int64_t{config.battlow_delay} * 60);
        StartEvent(kBatteryLowText, '3', kBatteryLow);
    } else if (config.schedule_on != 0 && next_shutdown != -1 &&
               next_shutdown - now < int64_t{config.acfail_delay} * 60) {
        // Too close to announce in whole minutes: give people one more minute.
        extended_ = next_shutdown - now <= 57;
        if (extended_) next_shutdown += 60;
        scheduled_ = true;
        deadline_ = next_shutdown;
        events_.OpenLog();
        events_.Warn(kScheduledText, true);
        state_ = kScheduledPending;
    }
}

void PowerStateMachine::StepAcFailure(std::string& reply, const UpsConfig& config) {
    if (ChkBatteryLow(reply) == kPresent) {
        MoveDeadline(now_() + int64_t{config.battlow_delay} * 60);
        events_.Warn(kBatteryLowText, true);
        events_.Report(kBatteryLowText);
        events_.Notify('3');
        state_ = kAcFailureAndBatteryLow;
    } else if (ChkACFail(reply) == kAbsent) {
        events_.Warn(kAcRecovered, true);
        events_.Warn(kStops, true);
        ReturnToNormal();
        events_.Report(kAcRecovered);
        events_.Notify('2');
    } else {
        CountDownTo(config);
    }
}

void PowerStateMachine::StepBatteryLow(std::string& reply, const UpsConfig& config) {
    if (ChkACFail(reply) == kPresent) {
        events_.Warn(kAcFails, true);
        events_.Report(kAcFails);
        events_.Notify('1');
        state_ = kAcFailureAndBatteryLow;
    } else if (ChkBatteryLow(reply) == kAbsent) {
        events_.Warn(kBatteryRecovered, true);
        events_.Warn(kStops, true);
        ReturnToNormal();
        events_.Report(kBatteryRecovered);
        events_.Notify('4');
    } else {
        CountDownTo(config);
    }
}

void PowerStateMachine::StepBoth(std::string& reply, const UpsConfig& config) {
    // Battery recovery is not acted on while the utility is still out.
    if (ChkACFail(reply) == kAbsent) {
        events_.Warn(kAcRecovered, true);
        events_.Report(kAcRecovered);
        events_.Notify('2');
        state_ = kBatteryLow;
    } else {
        CountDownTo(config);
    }
}

void PowerStateMachine::StepScheduled(std::string& reply, const UpsConfig& config,
                                      int64_t next_shutdown) {
    const int64_t now = now_();
    if (ChkACFail(reply) == kPresent) {
        scheduled_ = false;
        extended_ = false;
        StartEvent(kAcFails, '1', kAcFailure);  // the scheduled deadline stands
    } else if (ChkBatteryLow(reply) == kPresent) {
        scheduled_ = false;
        extended_ = false;
        MoveDeadline(now + int64_t{config.battlow_delay} * 60);
        StartEvent(kBatteryLowText, '3', kBatteryLow);
    } else if (config.schedule_on == 0 || next_shutdown == -1) {
        // Switched off, or every shutdown time taken out of the schedule: nothing is due.
        CancelSchedule();
    } else if (now >= deadline_) {
        // The pending time has come. Decided on the deadline alone: a poll that straddles the
        // scheduled minute already sees next week's time in next_shutdown.
        CountDownTo(config);
    } else if (extended_ && (next_shutdown == deadline_ - 60 || now >= deadline_ - 60)) {
        // The minute given to a shutdown announced too late stands: compared with the
        // schedule's own time (or, once that has passed, next week's) it would be taken back at
        // once, or the shutdown cancelled.
        CountDownTo(config);
    } else {
        extended_ = false;  // the schedule itself changed: its new time decides
        if (deadline_ > next_shutdown) {
            deadline_ = next_shutdown;
        } else if (deadline_ == next_shutdown) {
            CountDownTo(config);
        } else if (next_shutdown - now > int64_t{config.acfail_delay} * 60) {
            CancelSchedule();  // the schedule moved further away than the warning window
        } else {
            deadline_ = next_shutdown;
        }
    }
}

void PowerStateMachine::CountDownTo(const UpsConfig& config) {
    if (CountDown(config.countdown_on) != 1) return;
    // Shut down in this very step: waiting for one more answer from a UPS whose battery is
    // running out could mean never shutting down at all.
    state_ = kShutDownNow;
    events_.ShutDownNow(scheduled_);
}

void PowerStateMachine::StartEvent(const char* text, char code, PowerState next) {
    events_.OpenLog();
    events_.Warn(text, true);
    state_ = next;
    events_.Report(text);
    events_.Notify(code);
}

void PowerStateMachine::ReturnToNormal() {
    extended_ = false;
    deadline_ = kNoDeadline;
    last_minutes_ = -1;
    events_.CloseLog();
    state_ = kNormal;
}

void PowerStateMachine::CancelSchedule() {
    scheduled_ = false;
    events_.Warn(kStops, true);
    ReturnToNormal();
}

void PowerStateMachine::MoveDeadline(int64_t when) {
    if (when < deadline_) deadline_ = when;
}
