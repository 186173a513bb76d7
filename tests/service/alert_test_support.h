// What the alert tests watch: the event-log entries and the trace lines of the alert threads.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "email_alert.h"
#include "ups_lib/trace.h"

namespace torvane::test {

class RecordingLog final : public AlertLog {
  public:
    using Entry = std::pair<std::uint32_t, std::uint16_t>;

    void LogEvent(std::uint32_t id, std::uint16_t type) override {
        std::lock_guard lock(mutex_);
        entries_.emplace_back(id, type);
        changed_.notify_all();
    }
    // The entries once there are at least `count` of them, or what there is after `timeout`.
    std::vector<Entry> WaitFor(std::size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return entries_.size() >= count; });
        return entries_;
    }
    std::vector<Entry> Entries() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
};

// Catches the process's trace while it lives.
class TraceRecorder {
  public:
    TraceRecorder() {
        previous_ = ups::SetTraceSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~TraceRecorder() { ups::SetTraceSink(previous_); }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::size_t Count(const std::string& line) {
        const auto lines = Lines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    ups::TraceSink previous_;
};

}  // namespace torvane::test
