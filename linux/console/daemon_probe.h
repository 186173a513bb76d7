// Whether a daemon runs in this root, asked without waiting and without taking anything away
// from anyone: `kelvora status --once` runs from scripts and monitoring, often every few
// seconds, next to open status screens.
#pragma once

#include <cstdint>
#include <optional>

struct DaemonProbe {
    bool running = false;
    std::optional<long> pid;  // known to the super-user only
};

// The super-user asks the daemon's lock. Anyone else looks at when the daemon last sent a
// heartbeat (the queue's last send time, so no heartbeat is consumed): within
// kHeartbeatFreshSeconds of `now` counts as running, provided the queue was made by the owner
// of the lock file (or by the super-user, when there is none), whom no other user can fake.
DaemonProbe ProbeDaemon(int64_t now);

// The daemon sends heartbeats on every poll and between the tries of a silent UPS or agent;
// the longest gap is an SNMP agent's time-out of several seconds.
inline constexpr int64_t kHeartbeatFreshSeconds = 15;
