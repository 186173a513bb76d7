// What the agent's outside watchers (the NUT server, the metrics endpoint, the webhooks) know of
// the UPS: a copy that the frame publishes every second and at every change. Their threads read
// the copy and never touch the UPS object or the frame's records, so a slow or hostile client
// can never hold the frame up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "ups_lib/ups_records.h"

namespace torvane::watch {

// The events the agent tells about: the seven alert kinds in their order, then the shutdown of
// the system and a test of the notification channels.
enum class EventKind : std::uint8_t {
    kUtilityFailure = 0,
    kBatteryLow = 1,
    kUtilityRestored = 2,
    kBatteryRecovered = 3,
    kScheduledShutdown = 4,
    kScheduleCancelled = 5,
    kUpsFailure = 6,
    kSystemShutdown = 7,
    kTest = 8,
};
inline constexpr std::size_t kEventKinds = 9;

// The event's name in metrics labels and webhook bodies: "utility_failure", "battery_low", ...
std::string_view EventName(EventKind kind);

struct UpsSnapshot {
    bool connected = false;  // the UPS answers
    ups::UPSStatusValues status;
    ups::UPSBasicValues basic;
    ups::UPSRatingValues rating;
    // The alarms after their tolerance, as the agent acts on them.
    bool acFail = false;
    bool batteryLow = false;
    bool selfTest = false;
    bool boost = false;
    bool buck = false;
    bool bypass = false;
    // The UPS has taken a shut-down command and will switch its output off.
    bool upsOff = false;
    int countdownSeconds = 0;  // to the shutdown while one counts down, else 0
    // The agent is shutting its system down: the machines that share the UPS must follow.
    bool forcedShutdown = false;
    std::int64_t startedAt = 0;                       // calendar seconds: when the agent started
    std::int64_t updatedAt = 0;                       // calendar seconds: when this copy was made
    std::array<std::uint64_t, kEventKinds> events{};  // how often each event happened
};

// The status words of the NUT variable ups.status ("OL", "OB LB", "FSD OB LB", ...), the common
// tongue of UPS tools; empty while the UPS does not answer.
std::string StatusWords(const UpsSnapshot& ups);

class SnapshotBoard {
  public:
    UpsSnapshot Get() const {
        std::lock_guard lock(mutex_);
        return snapshot_;
    }
    // Changes the copy under the lock: `change` gets the snapshot to change in place.
    template <typename Change>
    void Update(Change&& change) {
        std::lock_guard lock(mutex_);
        change(snapshot_);
    }
    void CountEvent(EventKind kind) {
        Update([kind](UpsSnapshot& s) { ++s.events[static_cast<std::size_t>(kind)]; });
    }

  private:
    mutable std::mutex mutex_;
    UpsSnapshot snapshot_;
};

}  // namespace torvane::watch
