// What the UPS object tells its owner window, and what it concludes from each parsed status:
// which bits came or went, the boost/buck/bypass flags, and what the status means for the
// commands still being repeated. Pure: the caller posts, traces and touches the queue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame_reactions.h"  // UpsNotify: the codes of WM_UPS_NOTIFY
#include "ups_lib/ups_records.h"

namespace torvane {

struct Notification {
    int code;
    std::int64_t wParam = 0;  // seconds left for the countdown codes, else 0
    bool operator==(const Notification&) const = default;
};

// Notifications to post and trace lines to write, each in the order they arose.
struct Reactions {
    std::vector<Notification> posts;
    std::vector<std::string> traces;
    void Post(int code, std::int64_t wParam = 0) { posts.push_back({code, wParam}); }
    void Trace(std::string line) { traces.push_back(std::move(line)); }
};

// What a status means for the commands in the queue (see CommandQueue::Apply).
struct CommandEffects {
    // Shutdown active after the command went out: stop repeating it, drop its text and raise
    // the shutdown-command-done event. The sent flag is taken by this test.
    bool shutdownConfirmed = false;
    // Self-test running after the command went out: stop repeating it, drop its text. The
    // sent flag is taken by this test.
    bool selfTestConfirmed = false;
    // Self-test has just started, whoever started it: a test still being repeated is dropped.
    bool selfTestStarted = false;
    bool operator==(const CommandEffects&) const = default;
};

struct ChangeInput {
    const ups::UPSStatusValues& status;
    std::int64_t now;                  // calendar seconds, stamped on battery-low and AC-fail
    bool shutdownCommandSent = false;  // the queue's shutdown-command-sent flag is raised
    bool selfTestCommandSent = false;  // its self-test-command-sent flag is raised
};

struct ChangeOutcome {
    Reactions reactions;
    CommandEffects commands;
};

class ChangeDetector {
  public:
    // Runs after every status line that parsed. The first post is always 24 (new status): the
    // owner reads the new values on it before it hears what changed.
    ChangeOutcome OnStatusParsed(const ChangeInput& input);

    bool boost() const { return boost_; }
    bool buck() const { return buck_; }
    bool bypass() const { return bypass_; }
    // Set when the condition began; 0 until then.
    std::int64_t acFailTime() const { return acFailTime_; }
    std::int64_t batteryLowTime() const { return batteryLowTime_; }

  private:
    bool firstSeen_ = false;
    std::uint8_t previous_ = 0;
    bool boost_ = false;
    bool buck_ = false;
    bool bypass_ = false;
    std::int64_t acFailTime_ = 0;
    std::int64_t batteryLowTime_ = 0;
};

}  // namespace torvane
