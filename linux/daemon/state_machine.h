// The power-event state machine: debounces the UPS's AC-failure and battery-low bits, keeps one
// shutdown deadline, counts down, starts and cancels scheduled shutdowns, and shuts down when
// the deadline passes. It is stepped once per successful poll and remembers its state across
// reconnects.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "config.h"
#include "power_events.h"
#include "q1_protocol.h"

enum PowerState {
    kNormal = 0,
    kAcFailure = 1,
    kBatteryLow = 2,
    kAcFailureAndBatteryLow = 3,
    kScheduledPending = 4,
    kShutDownNow = 5,
};

inline constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

// Results of the debounced checks.
inline constexpr int kPresent = 1;
inline constexpr int kAbsent = 0;
inline constexpr int kUndecided = -10;

// The last four samples of one status bit.
class SampleRing {
  public:
    // Records the character at `position` of the reply ("2" for anything but "0" or "1", which
    // is also written back into the reply; a reply too short reads as "2").
    int Check(std::string& reply, std::size_t position);

  private:
    char samples_[4] = {'0', '0', '0', '0'};
    int next_ = 0;
};

class PowerStateMachine {
  public:
    using Clock = std::function<int64_t()>;
    PowerStateMachine(Clock now, PowerEvents& events) : now_(std::move(now)), events_(events) {}

    // One step with the status reply, the configuration and the next scheduled shutdown as
    // computed at the top of this poll cycle (-1: none).
    void StateTransition(std::string& reply, const UpsConfig& config, int64_t next_shutdown);

    // Called for a poll the UPS did not answer. The state stays as it is, but a deadline that
    // passes while the UPS is silent is kept: an AC failure whose countdown has run out shuts
    // down even if the UPS stopped answering (a pulled cable, a UPS near its end).
    void WhileSilent();

    int state() const { return state_; }
    int64_t deadline() const { return deadline_; }
    bool scheduled() const { return scheduled_; }

    int ChkACFail(std::string& reply) { return ac_.Check(reply, q1::kUtilityFailBit); }
    int ChkBatteryLow(std::string& reply) { return battery_.Check(reply, q1::kBatteryLowBit); }
    // 1 when the deadline has come; otherwise announces what is left and returns 0.
    int CountDown(int countdown_on);

  private:
    void StepNormal(std::string& reply, const UpsConfig& config, int64_t next_shutdown);
    void StepAcFailure(std::string& reply, const UpsConfig& config);
    void StepBatteryLow(std::string& reply, const UpsConfig& config);
    void StepBoth(std::string& reply, const UpsConfig& config);
    void StepScheduled(std::string& reply, const UpsConfig& config, int64_t next_shutdown);
    void CountDownTo(const UpsConfig& config);

    void StartEvent(const char* text, char code, PowerState next);
    void ReturnToNormal();
    void CancelSchedule();
    void MoveDeadline(int64_t when);

    Clock now_;
    PowerEvents& events_;
    int state_ = kNormal;
    int64_t deadline_ = kNoDeadline;
    int last_minutes_ = -1;
    bool scheduled_ = false;
    bool extended_ = false;  // a scheduled deadline one minute past the schedule's own time
    SampleRing ac_;
    SampleRing battery_;
};
