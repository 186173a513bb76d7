#include "events.h"

#include <algorithm>

namespace platform {

// A WaitAny call sleeps on one condition of its own; every event it waits for knows it and
// wakes it when set.
struct Event::Waiter {
    std::mutex mutex;
    std::condition_variable wake;
    bool signalled = false;

    void Signal() {
        std::lock_guard lock(mutex);
        signalled = true;
        wake.notify_all();
    }
};

namespace {

// A deadline that `kInfinite` cannot overflow.
std::chrono::steady_clock::time_point Deadline(std::chrono::milliseconds timeout) {
    auto now = std::chrono::steady_clock::now();
    if (timeout >= std::chrono::hours(24 * 365))
        return std::chrono::steady_clock::time_point::max();
    return now + timeout;
}

}  // namespace

Event::Event(Mode mode, bool initially_set) : mode_(mode), set_(initially_set) {}

Event::~Event() = default;

void Event::Set() {
    std::vector<std::shared_ptr<Waiter>> waiters;
    {
        std::lock_guard lock(mutex_);
        set_ = true;
        waiters = waiters_;
        if (mode_ == Mode::kManualReset) {
            changed_.notify_all();
        } else {
            changed_.notify_one();
        }
    }
    for (auto& w : waiters) w->Signal();
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::TakeLocked() {
    if (!set_) return false;
    if (mode_ == Mode::kAutoReset) set_ = false;
    return true;
}

bool Event::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    auto deadline = Deadline(timeout);
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        changed_.wait(lock, [this] { return set_; });
    } else if (!changed_.wait_until(lock, deadline, [this] { return set_; })) {
        return false;
    }
    return TakeLocked();
}

void Event::Wait() {
    Wait(kInfinite);
}

int WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout) {
    auto waiter = std::make_shared<Event::Waiter>();
    auto take_first = [&]() -> int {
        int index = 0;
        for (Event* e : events) {
            std::lock_guard lock(e->mutex_);
            if (e->TakeLocked()) return index;
            ++index;
        }
        return -1;
    };
    for (Event* e : events) {
        std::lock_guard lock(e->mutex_);
        e->waiters_.push_back(waiter);
    }
    auto deadline = Deadline(timeout);
    int found = -1;
    while (true) {
        {
            // Cleared before looking, so a Set that comes after the look still wakes us.
            std::lock_guard lock(waiter->mutex);
            waiter->signalled = false;
        }
        found = take_first();
        if (found >= 0) break;
        std::unique_lock lock(waiter->mutex);
        if (deadline == std::chrono::steady_clock::time_point::max()) {
            waiter->wake.wait(lock, [&] { return waiter->signalled; });
        } else if (!waiter->wake.wait_until(lock, deadline, [&] { return waiter->signalled; })) {
            lock.unlock();
            found = take_first();
            break;
        }
    }
    for (Event* e : events) {
        std::lock_guard lock(e->mutex_);
        auto& w = e->waiters_;
        w.erase(std::remove(w.begin(), w.end(), waiter), w.end());
    }
    return found;
}

}  // namespace platform
