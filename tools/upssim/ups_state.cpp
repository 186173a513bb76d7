#include "ups_state.h"

#include <algorithm>
#include <cmath>

namespace upssim {

Clock::duration UpsState::real(double ups_seconds) const {
    // Limited to about thirty years so a huge delay cannot overflow the clock's arithmetic.
    const double seconds = std::clamp(ups_seconds / scale_, 0.0, 1e9);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double UpsState::ups_seconds(Clock::duration real) const {
    return std::chrono::duration<double>(real).count() * scale_;
}

void UpsState::tick(TimePoint now) {
    if (test_active_ && test_until_ && now >= *test_until_) cancel_test();

    if (shutdown_at_ && now >= *shutdown_at_) {
        // The restart time counts from the moment the output went off.
        const TimePoint off_at = *shutdown_at_;
        output_on_ = false;
        restore_at_.reset();
        if (restart_after_) restore_at_ = off_at + real(*restart_after_);
        shutdown_at_.reset();
        restart_after_.reset();
    }
    if (!output_on_ && restore_at_ && now >= *restore_at_ && !utility_fail_) {
        output_on_ = true;
        restore_at_.reset();
    }
}

std::optional<TimePoint> UpsState::next_deadline() const {
    std::optional<TimePoint> next;
    const auto consider = [&next](const std::optional<TimePoint>& t) {
        if (t && (!next || *t < *next)) next = t;
    };
    if (test_active_) consider(test_until_);
    consider(shutdown_at_);
    if (!output_on_ && !utility_fail_) consider(restore_at_);
    return next;
}

void UpsState::set_utility_fail(bool failed, TimePoint now) {
    const bool returned = utility_fail_ && !failed;
    utility_fail_ = failed;
    // An output switched off with no restart time waits for exactly this moment.
    if (returned && !output_on_ && !restore_at_) restore_at_ = now;
    tick(now);
}

void UpsState::set_battery_low(bool low) {
    battery_low_ = low;
    if (low && test_until_battery_low_) cancel_test();
}

void UpsState::start_test(std::optional<double> seconds, TimePoint now) {
    test_active_ = true;
    test_until_battery_low_ = false;
    test_until_.reset();
    if (seconds) test_until_ = now + real(*seconds);
}

void UpsState::start_test_until_battery_low() {
    test_until_.reset();
    // A battery that is already low ends such a test before it begins.
    test_active_ = !battery_low_;
    test_until_battery_low_ = test_active_;
}

void UpsState::cancel_test() {
    test_active_ = false;
    test_until_.reset();
    test_until_battery_low_ = false;
}

void UpsState::schedule_shutdown(double delay, std::optional<double> restart, TimePoint now) {
    shutdown_at_ = now + real(delay);
    restart_after_.reset();
    if (restart && *restart > 0) restart_after_ = restart;
    tick(now);
}

void UpsState::cancel_shutdown(TimePoint now) {
    shutdown_at_.reset();
    restart_after_.reset();
    if (!output_on_) restore_at_ = now;
    tick(now);
}

StatusBits UpsState::bits() const {
    StatusBits b{};
    b[kUtilityFail] = utility_fail_;
    b[kBatteryLow] = battery_low_;
    b[kBoost] = boost_;
    b[kUpsFailed] = ups_failed_;
    b[kStandby] = true;  // we simulate a standby-type unit
    b[kTest] = test_active_;
    b[kShutdown] = shutdown_at_.has_value();
    b[kBeeper] = beeper_;
    return b;
}

Pending UpsState::pending(TimePoint now) const {
    const auto left = [&](TimePoint t) { return std::max(0.0, ups_seconds(t - now)); };
    if (shutdown_at_) return {Pending::Kind::shutdown, left(*shutdown_at_)};
    if (output_on_) return {};
    if (restore_at_ && (*restore_at_ > now || !utility_fail_))
        return {Pending::Kind::restart_timed, left(*restore_at_)};
    return {Pending::Kind::restart_on_utility, 0};
}

}  // namespace upssim
