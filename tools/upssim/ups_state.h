// The simulated UPS: its readings, its status bits and the timers that change them.
//
// Every delay is given in UPS seconds and runs on the monotonic clock divided by the time
// scale, so a test can make a ten-second self-test take a tenth of that. The caller passes
// the current time in; nothing here reads a clock, which keeps the rules easy to follow.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>

namespace upssim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

struct Readings {
    double input = 230.0;   // volts, shown as 000.0 while the utility has failed
    double fault = 230.0;   // input fault voltage
    double output = 230.0;  // shown as 000.0 while the output is off
    long load = 21;         // percent
    double frequency = 50.0;
    double battery = 2.27;  // cell or pack voltage
    double temperature = 25.0;
    double capacity = 100.0;  // percent; only the SEC dialect reports it
};

struct Rating {
    double voltage = 230.0;
    long current = 4;
    double battery = 24.0;
    double frequency = 50.0;
};

struct Identity {
    std::string company = "Stavlen";
    std::string model = "SIM-1000";
    std::string version = "1.0";
};

// Status bits in the order the status reply shows them, first character first.
enum Bit : std::size_t {
    kUtilityFail = 0,
    kBatteryLow,
    kBoost,
    kUpsFailed,
    kStandby,
    kTest,
    kShutdown,
    kBeeper,
    kBitCount
};
using StatusBits = std::array<bool, kBitCount>;

// What the UPS is waiting for, as the control socket reports it.
struct Pending {
    enum class Kind { none, shutdown, restart_timed, restart_on_utility } kind = Kind::none;
    double seconds_left = 0;  // UPS seconds, for the two timed kinds
};

class UpsState {
  public:
    explicit UpsState(double time_scale = 1.0) : scale_(time_scale) {}

    Readings readings;
    Rating rating;
    Identity identity;

    // Advances every timer to `now`; call before reading or changing anything.
    void tick(TimePoint now);
    // The earliest moment a timer changes the state, if any timer runs.
    std::optional<TimePoint> next_deadline() const;

    void set_utility_fail(bool failed, TimePoint now);
    void set_battery_low(bool low);
    void set_boost(bool on) { boost_ = on; }
    void set_ups_failed(bool failed) { ups_failed_ = failed; }
    void set_beeper(bool on) { beeper_ = on; }

    // A test for `seconds` UPS seconds, or open-ended when nullopt (ended by cancel_test).
    void start_test(std::optional<double> seconds, TimePoint now);
    // A test that runs until the battery reports low (or is cancelled).
    void start_test_until_battery_low();
    void cancel_test();

    // Output off after `delay` UPS seconds. With a positive `restart` the output comes back
    // that many UPS seconds after switching off (as soon as the utility is present); without
    // one it stays off until the utility next returns. A new command replaces a pending one.
    void schedule_shutdown(double delay, std::optional<double> restart, TimePoint now);
    // Drops a pending shutdown; when the output is already off, brings it back (once the
    // utility is present), as the real units do.
    void cancel_shutdown(TimePoint now);

    StatusBits bits() const;
    bool output_on() const { return output_on_; }
    bool utility_failed() const { return utility_fail_; }
    // The restart that belongs to a pending shutdown, if it has one.
    std::optional<double> pending_restart() const {
        return shutdown_at_ ? restart_after_ : std::nullopt;
    }
    Pending pending(TimePoint now) const;

  private:
    Clock::duration real(double ups_seconds) const;
    double ups_seconds(Clock::duration real) const;

    double scale_;
    bool utility_fail_ = false;
    bool battery_low_ = false;
    bool boost_ = false;
    bool ups_failed_ = false;
    bool beeper_ = true;

    bool test_active_ = false;
    std::optional<TimePoint> test_until_;
    bool test_until_battery_low_ = false;

    bool output_on_ = true;
    std::optional<TimePoint> shutdown_at_;
    std::optional<double> restart_after_;  // belongs to the pending shutdown
    std::optional<TimePoint> restore_at_;  // output off: comes back then, utility permitting
};

}  // namespace upssim
