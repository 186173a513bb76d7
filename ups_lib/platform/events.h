// Auto- and manual-reset events, as the agent's threads use them to hand work to each other:
// a helper thread sleeps on its events and nothing else, so an idle agent never wakes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class Event {
  public:
    enum class Mode { kAutoReset, kManualReset };

    explicit Event(Mode mode, bool initially_set = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event is (or becomes) set within `timeout`; a zero timeout only tests it.
    // An auto-reset event is cleared by the wait that sees it set, so one Set wakes one waiter.
    bool Wait(std::chrono::milliseconds timeout);
    void Wait();

  private:
    friend int WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout);
    struct Waiter;
    bool TakeLocked();

    const Mode mode_;
    bool set_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<Waiter>> waiters_;  // of WaitAny calls sleeping on this event
};

// Waits until one of `events` is set: the index of the first one set (an auto-reset event
// among them is cleared by this wait, the others are left alone), or -1 after `timeout`.
int WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout);

inline constexpr std::chrono::milliseconds kInfinite = std::chrono::milliseconds::max();

}  // namespace platform
