#include "ups_lib/platform/message_loop.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ups_lib/platform/events.h"

namespace {

using namespace std::chrono_literals;
using platform::Event;
using platform::kWmUser;
using platform::Window;
using platform::WindowHandle;
using platform::WindowPtr;
using platform::WindowThread;

// For things that must happen: long enough for a loaded machine, short enough to end a broken run.
constexpr auto kGenerous = 10s;

constexpr std::uint32_t kNote = kWmUser + 1;
constexpr std::uint32_t kEcho = kWmUser + 2;  // returns lParam * 2
constexpr std::uint32_t kMarker = kWmUser + 3;
constexpr std::uint32_t kBlock = kWmUser + 4;  // holds the thread until the gate opens
constexpr std::uintptr_t kMarkerTimer = 3;

// Where a wait that never ends would hang the whole test program, end it with a message instead.
void MustHappen(Event& event, const char* what) {
    if (!event.Wait(kGenerous)) {
        std::fprintf(stderr, "never happened: %s\n", what);
        std::abort();
    }
}

// Notes every message and tick it gets.
class Recorder : public Window {
  public:
    struct Seen {
        std::uint32_t msg;
        std::uintptr_t wparam;
        std::intptr_t lparam;
    };

    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    int ticks(std::uintptr_t id) {
        std::lock_guard lock(mutex_);
        return ticks_[id];
    }
    int calls() const { return calls_; }
    std::thread::id thread() {
        std::lock_guard lock(mutex_);
        return thread_;
    }

    Event marker{Event::Mode::kAutoReset};
    Event ticked{Event::Mode::kAutoReset};
    Event entered{Event::Mode::kManualReset};
    Event gate{Event::Mode::kManualReset};
    // Timers killed, and timers restarted with a period of an hour, by every tick.
    std::vector<std::uintptr_t> kill_on_tick;
    std::vector<std::uintptr_t> restart_on_tick;

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override {
        ++calls_;
        {
            std::lock_guard lock(mutex_);
            seen_.push_back({msg, wparam, lparam});
            thread_ = std::this_thread::get_id();
        }
        if (msg == kMarker) marker.Set();
        if (msg == kBlock) {
            entered.Set();
            MustHappen(gate, "the gate opened");
        }
        return msg == kEcho ? lparam * 2 : 0;
    }

    void OnTimer(std::uintptr_t id) override {
        ++calls_;
        {
            std::lock_guard lock(mutex_);
            ++ticks_[id];
        }
        for (auto killed : kill_on_tick) KillTimer(killed);
        for (auto restarted : restart_on_tick) SetTimer(restarted, 1h);
        if (id == kMarkerTimer) {
            KillTimer(kMarkerTimer);
            marker.Set();
        }
        ticked.Set();
    }

  private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
    std::map<std::uintptr_t, int> ticks_;
    std::thread::id thread_;
    std::atomic<int> calls_{0};
};

std::thread::id ThreadOf(WindowThread& thread) {
    std::thread::id id;
    thread.Invoke([&] { id = std::this_thread::get_id(); });
    return id;
}

TEST(MessageLoopPost, EachSendersMessagesArriveInOrderOnTheOwnerThread) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    WindowHandle handle = window->handle();
    constexpr int kEach = 500;

    auto post_all = [&](std::uintptr_t sender) {
        for (int i = 0; i < kEach; ++i) EXPECT_TRUE(PostMessage(handle, kNote, sender, i));
    };
    std::thread a(post_all, 1);
    std::thread b(post_all, 2);
    a.join();
    b.join();
    ASSERT_TRUE(handle.Post(kMarker));
    ASSERT_TRUE(window->marker.Wait(kGenerous));

    std::map<std::uintptr_t, std::intptr_t> next;
    for (const auto& s : window->seen()) {
        if (s.msg != kNote) continue;
        EXPECT_EQ(s.lparam, next[s.wparam]) << "sender " << s.wparam;
        next[s.wparam] = s.lparam + 1;
    }
    EXPECT_EQ(next[1], kEach);
    EXPECT_EQ(next[2], kEach);
    EXPECT_EQ(window->thread(), ThreadOf(thread));
    EXPECT_NE(window->thread(), std::this_thread::get_id());
}

// Relays kEcho to a peer window by a send, noting whether the peer answered while the relay's
// own handler was still running.
class Relay : public Window {
  public:
    WindowHandle peer;
    std::atomic<bool> in_handler{false};

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t lparam) override {
        if (msg != kEcho) return 0;
        in_handler = true;
        std::intptr_t result = SendMessage(peer, kEcho, 0, lparam) + 1;
        in_handler = false;
        return result;
    }
};

class Witness : public Recorder {
  public:
    Relay* relay = nullptr;
    bool relay_was_running = false;
    std::thread::id answered_on;

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override {
        relay_was_running = relay->in_handler;
        answered_on = std::this_thread::get_id();
        return Recorder::OnMessage(msg, wparam, lparam);
    }
};

TEST(MessageLoopSend, OnTheOwnerThreadRunsInsideTheSendersHandler) {
    WindowThread thread;
    auto relay = thread.Create<Relay>();
    auto witness = thread.Create<Witness>();
    thread.Invoke([&] {
        relay->peer = witness->handle();
        witness->relay = relay.get();
    });

    EXPECT_EQ(relay->handle().Send(kEcho, 0, 20), 41);
    EXPECT_TRUE(witness->relay_was_running);
    EXPECT_EQ(witness->answered_on, ThreadOf(thread));
}

TEST(MessageLoopSend, ToAThreadThatHasQuitReturnsAtOnce) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    WindowHandle handle = window->handle();
    thread.Quit();
    thread.WaitUntilQuit();

    EXPECT_EQ(handle.Send(kEcho, 0, 21), 0);
    EXPECT_FALSE(handle.Post(kNote));
    EXPECT_FALSE(handle.SetTimer(1, 10ms));
    EXPECT_FALSE(thread.Invoke([] {}));
    EXPECT_EQ(thread.Create<Recorder>(), nullptr);
    EXPECT_EQ(window->calls(), 0);
    thread.Quit();  // again: harmless
}

// On kGo, starts the stopper on the other thread, then sends to a window of that thread.
class Sender : public Window {
  public:
    WindowHandle stopper, target;
    std::optional<std::intptr_t> result;
    Event done{Event::Mode::kManualReset};

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t) override {
        if (msg == kNote) {
            stopper.Post(kNote);
            result = target.Send(kEcho, 0, 21);
            done.Set();
        }
        return 1;  // also the answer to the stopper's probe
    }
};

TEST(MessageLoopSend, FromAnotherThreadWaitsForTheResultBehindEarlierPosts) {
    WindowThread owner, sending;
    auto window = owner.Create<Recorder>();
    auto sender = sending.Create<Sender>();
    sending.Invoke([&] { sender->target = window->handle(); });

    // The owner is busy with one send while posts and a second send queue up behind it.
    std::thread first([&] { window->handle().Send(kBlock); });
    ASSERT_TRUE(window->entered.Wait(kGenerous));
    for (int i = 0; i < 3; ++i) window->handle().Post(kNote, 0, i);
    sender->handle().Post(kNote);
    // The sender's thread answers this only while it waits in its own send, so once it has.
    EXPECT_EQ(sender->handle().Send(kMarker), 1);
    window->gate.Set();
    MustHappen(sender->done, "the second send returned");
    first.join();

    std::vector<std::uint32_t> order;
    for (const auto& s : window->seen()) order.push_back(s.msg);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{kBlock, kNote, kNote, kNote, kEcho}));
    EXPECT_EQ(sender->result, 42);
    EXPECT_EQ(window->thread(), ThreadOf(owner));
}

// Blocks its thread until the gate opens (a plain wait, which handles no sends meanwhile), then
// ends its thread's loop at once.
class Stopper : public Window {
  public:
    Event gate{Event::Mode::kManualReset};

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t) override {
        if (msg == kNote) {
            MustHappen(gate, "the gate opened");
            handle().Send(platform::kWmQuit);
        }
        return 0;
    }
};

TEST(MessageLoopSend, ReturnsZeroWhenTheOwnerQuitsWhileTheSendWaits) {
    WindowThread owner, sending;
    auto stopper = owner.Create<Stopper>();
    auto target = owner.Create<Recorder>();
    auto sender = sending.Create<Sender>();
    sending.Invoke([&] {
        sender->stopper = stopper->handle();
        sender->target = target->handle();
    });

    sender->handle().Post(kNote);
    // The sender's thread answers this only while it waits in its own send, so once it has.
    EXPECT_EQ(sender->handle().Send(kMarker), 1);
    stopper->gate.Set();
    MustHappen(sender->done, "the send to a quitting thread returned");
    EXPECT_EQ(sender->result, 0);
    EXPECT_EQ(target->calls(), 0);
    owner.WaitUntilQuit();
}

// On kNote, has the other thread's window send here, then ends that thread.
class Ender : public Recorder {
  public:
    std::unique_ptr<WindowThread> other;
    WindowHandle other_window;

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override {
        if (msg == kNote) {
            other_window.Post(kNote);
            other.reset();
            marker.Set();
        }
        return Recorder::OnMessage(msg, wparam, lparam);
    }
};

TEST(MessageLoopSend, AWindowThreadEndingAnotherAnswersItsSendsMeanwhile) {
    WindowThread thread;
    auto other = std::make_unique<WindowThread>();
    auto sender = other->Create<Sender>();
    auto ender = thread.Create<Ender>();
    other->Invoke([&] { sender->target = ender->handle(); });
    thread.Invoke([&] {
        ender->other = std::move(other);
        ender->other_window = sender->handle();
    });

    ender->handle().Post(kNote);
    MustHappen(ender->marker, "the other thread ended");
    EXPECT_EQ(sender->result, 42);
}

// kNote: asks the peer for kEcho by a send; the peer's answer itself needs a send back here.
class Ping : public Recorder {
  public:
    WindowHandle peer;
    std::atomic<std::intptr_t> crossed{0};
    Event crossed_done{Event::Mode::kManualReset};

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override {
        if (msg == kNote) return peer.Send(kWmUser + 10, 0, lparam) + 1;
        if (msg == kWmUser + 10) return peer.Send(kEcho, 0, lparam) + 10;
        if (msg == kWmUser + 11) {
            crossed = peer.Send(kEcho, 0, lparam);
            crossed_done.Set();
            return 0;
        }
        return Recorder::OnMessage(msg, wparam, lparam);
    }
};

TEST(MessageLoopSend, WindowThreadsSendingToEachOtherDoNotDeadlock) {
    WindowThread a, b;
    auto pa = a.Create<Ping>();
    auto pb = b.Create<Ping>();
    a.Invoke([&] { pa->peer = pb->handle(); });
    b.Invoke([&] { pb->peer = pa->handle(); });

    // A waits on B, whose handler waits on A: A answers while it waits.
    std::intptr_t nested = 0;
    Event asked(Event::Mode::kManualReset);
    std::thread asker([&] {
        nested = pa->handle().Send(kNote, 0, 5);
        asked.Set();
    });
    MustHappen(asked, "a nested send between two threads returned");
    asker.join();
    EXPECT_EQ(nested, 5 * 2 + 10 + 1);

    // Both at once, each waiting on the other.
    pa->handle().Post(kWmUser + 11, 0, 3);
    pb->handle().Post(kWmUser + 11, 0, 4);
    MustHappen(pa->crossed_done, "the first of two crossing sends returned");
    MustHappen(pb->crossed_done, "the second of two crossing sends returned");
    EXPECT_EQ(pa->crossed, 6);
    EXPECT_EQ(pb->crossed, 8);
}

TEST(MessageLoopTimer, TicksRepeatedlyAndNeverAfterItsOwnHandlerKillsIt) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    constexpr std::uintptr_t kId = 7;
    ASSERT_TRUE(window->handle().SetTimer(kId, 10ms));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(window->ticked.Wait(kGenerous));
    EXPECT_TRUE(window->handle().KillTimer(kId));
    int ticks = window->ticks(kId);
    EXPECT_GE(ticks, 3);
    EXPECT_FALSE(window->handle().KillTimer(kId)) << "already gone";

    // Any tick still on its way would come before this later timer's.
    ASSERT_TRUE(window->handle().SetTimer(kMarkerTimer, 50ms));
    ASSERT_TRUE(window->marker.Wait(kGenerous));
    EXPECT_EQ(window->ticks(kId), ticks);
}

TEST(MessageLoopTimer, ATickAlreadyQueuedIsDroppedWhenItsTimerIsKilledOrRestarted) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    thread.Invoke([&] {
        window->kill_on_tick = {1, 2};
        window->restart_on_tick = {4};
        window->SetTimer(1, 20ms);
        window->SetTimer(2, 20ms);
        window->SetTimer(4, 20ms);
        window->SetTimer(kMarkerTimer, 20ms);
        // All of them expire while this thread is busy, so their ticks are queued together; the
        // first tick kills or restarts the others, whose ticks are then already waiting.
        std::this_thread::sleep_for(100ms);
    });
    ASSERT_TRUE(window->marker.Wait(kGenerous));
    EXPECT_EQ(window->ticks(1), 1);
    EXPECT_EQ(window->ticks(2), 0) << "killed";
    EXPECT_EQ(window->ticks(4), 0) << "restarted for an hour";
}

TEST(MessageLoopTimer, SettingARunningTimerAgainRestartsItWithTheNewPeriod) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    WindowHandle handle = window->handle();

    ASSERT_TRUE(handle.SetTimer(5, 1h));
    ASSERT_TRUE(handle.SetTimer(5, 20ms));
    ASSERT_TRUE(window->ticked.Wait(kGenerous)) << "the short period replaced the hour";
    EXPECT_GE(window->ticks(5), 1);
    handle.KillTimer(5);

    thread.Invoke([&] {
        window->SetTimer(6, 20ms);
        std::this_thread::sleep_for(100ms);  // its first tick is due
        window->SetTimer(6, 1h);
        window->SetTimer(kMarkerTimer, 20ms);
    });
    ASSERT_TRUE(window->marker.Wait(kGenerous));
    EXPECT_EQ(window->ticks(6), 0) << "the restart dropped the tick that was due";
}

TEST(MessageLoopTimer, PeriodsOutsideTheUsableRangeAreBroughtIntoIt) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    WindowHandle handle = window->handle();

    // A period that would overflow the clock must not make the timer due at once.
    ASSERT_TRUE(handle.SetTimer(9, std::chrono::milliseconds::max()));
    ASSERT_TRUE(handle.SetTimer(kMarkerTimer, 30ms));
    ASSERT_TRUE(window->marker.Wait(kGenerous));
    EXPECT_EQ(window->ticks(9), 0);

    // A period of 0 ticks at the shortest period, not as fast as the thread can go.
    window->ticked.Reset();
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(handle.SetTimer(10, 0ms));
    ASSERT_TRUE(window->ticked.Wait(kGenerous));
    std::this_thread::sleep_for(100ms);
    handle.KillTimer(10);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LE(window->ticks(10), elapsed / platform::kTimerMinimum + 2);
}

TEST(MessageLoopTimer, NextDueKeepsThePhaseAndSkipsMissedTicks) {
    using platform::detail::NextTimerDue;
    const std::chrono::steady_clock::time_point due{100s};
    EXPECT_EQ(NextTimerDue(due, 2s, due + 30ms), due + 2s) << "late handling does not drift";
    EXPECT_EQ(NextTimerDue(due, 2s, due + 5s), due + 6s) << "two missed ticks skipped";
    EXPECT_EQ(NextTimerDue(due, 2s, due + 2s), due + 4s) << "never due at once again";
    EXPECT_EQ(NextTimerDue(due, 0s, due), due + platform::kTimerMinimum);
}

// Counts into a counter that outlives it, so a message delivered after its end shows.
class Victim : public Window {
  public:
    Victim(std::shared_ptr<std::atomic<int>> count, std::shared_ptr<std::thread::id> died_on)
        : count_(std::move(count)), died_on_(std::move(died_on)) {}
    ~Victim() override { *died_on_ = std::this_thread::get_id(); }

  protected:
    std::intptr_t OnMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {
        ++*count_;
        return 1;
    }

  private:
    std::shared_ptr<std::atomic<int>> count_;
    std::shared_ptr<std::thread::id> died_on_;
};

// Posts to its victim and destroys it in the same handler, so the post is still queued.
class Killer : public Recorder {
  public:
    WindowPtr<Victim> victim;

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override {
        if (msg == kNote) {
            WindowHandle handle = victim->handle();
            handle.Post(kNote);
            handle.Post(kNote);
            victim.reset();
        }
        return Recorder::OnMessage(msg, wparam, lparam);
    }
};

TEST(MessageLoopLifetime, APostQueuedForAWindowDestroyedSinceIsDropped) {
    WindowThread thread;
    auto count = std::make_shared<std::atomic<int>>(0);
    auto died_on = std::make_shared<std::thread::id>();
    auto killer = thread.Create<Killer>();
    auto victim = thread.Create<Victim>(count, died_on);
    WindowHandle victim_handle = victim->handle();
    thread.Invoke([&] { killer->victim = std::move(victim); });

    killer->handle().Post(kNote);
    killer->handle().Post(kMarker);
    ASSERT_TRUE(killer->marker.Wait(kGenerous));
    EXPECT_EQ(*count, 0);
    EXPECT_FALSE(victim_handle.IsWindow());
    EXPECT_FALSE(victim_handle.Post(kNote));
    EXPECT_EQ(victim_handle.Send(kEcho, 0, 1), 0);
    EXPECT_FALSE(victim_handle.KillTimer(1));
    EXPECT_EQ(*died_on, ThreadOf(thread));
}

TEST(MessageLoopLifetime, DestroyingWindowsAndThreadsWithPostsInFlightIsSafe) {
    auto count = std::make_shared<std::atomic<int>>(0);
    auto died_on = std::make_shared<std::thread::id>();
    std::optional<WindowThread> thread(std::in_place);
    const std::thread::id owner = ThreadOf(*thread);

    // Each poster floods its window until posting fails.
    auto flood = [](WindowHandle handle, Event& started, std::atomic<int>& posted) {
        return std::thread([handle, &started, &posted] {
            while (handle.Post(kNote)) {
                if (++posted == 1000) started.Set();
            }
            started.Set();
        });
    };

    // A window destroyed from another thread, while posts keep coming: on its owner thread.
    Event started_one(Event::Mode::kManualReset);
    std::atomic<int> posted_one{0};
    auto first = thread->Create<Victim>(count, died_on);
    std::thread poster_one = flood(first->handle(), started_one, posted_one);
    ASSERT_TRUE(started_one.Wait(kGenerous));
    first.reset();
    poster_one.join();
    EXPECT_EQ(*died_on, owner);
    EXPECT_LE(count->load(), posted_one.load());

    // A thread ended under a flood; its window outlives it and goes on this thread.
    Event started_two(Event::Mode::kManualReset);
    std::atomic<int> posted_two{0};
    auto second = thread->Create<Victim>(count, died_on);
    WindowHandle second_handle = second->handle();
    std::thread poster_two = flood(second_handle, started_two, posted_two);
    ASSERT_TRUE(started_two.Wait(kGenerous));
    thread.reset();
    poster_two.join();
    EXPECT_FALSE(second_handle.Post(kNote));
    second.reset();
    EXPECT_EQ(*died_on, std::this_thread::get_id());
    EXPECT_FALSE(second_handle.IsWindow());
}

TEST(MessageLoopQuit, HandlesWhatWasPostedBeforeTheQuitAndNothingAfter) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    WindowHandle handle = window->handle();
    handle.Post(kNote, 0, 1);
    handle.Post(platform::kWmQuit);
    handle.Post(kNote, 0, 2);  // may still be accepted; must not be handled
    thread.WaitUntilQuit();

    auto seen = window->seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].lparam, 1);
    EXPECT_FALSE(handle.Post(kNote, 0, 3));

    WindowThread other;
    auto window2 = other.Create<Recorder>();
    window2->handle().Post(kNote);
    other.Quit();
    other.WaitUntilQuit();
    EXPECT_EQ(window2->calls(), 1);
}

class Throwing : public Window {
  public:
    Throwing() { throw std::runtime_error("cannot open"); }
};

TEST(MessageLoopCreate, RunsConstructorsOnTheThreadAndPassesTheirFailureBack) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->handle().IsWindow());
    EXPECT_EQ(window->handle(), window->handle());
    EXPECT_FALSE(window->handle() == WindowHandle());

    EXPECT_THROW(thread.Create<Throwing>(), std::runtime_error);
    EXPECT_THROW(thread.Invoke([] { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_THROW({ Recorder off_thread; }, std::logic_error) << "not on a window thread";
    EXPECT_EQ(window->handle().Send(kEcho, 0, 4), 8) << "the thread survived";
}

TEST(MessageLoopIdle, AnIdleThreadDoesNotWake) {
    WindowThread thread;
    auto window = thread.Create<Recorder>();
    ASSERT_TRUE(window->handle().SetTimer(1, 1h));

#ifndef _WIN32
    timespec before{}, after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
#endif
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(window->calls(), 0);
#ifndef _WIN32
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    auto used = std::chrono::seconds(after.tv_sec - before.tv_sec) +
                std::chrono::nanoseconds(after.tv_nsec - before.tv_nsec);
    EXPECT_LT(used, 100ms) << "a thread that polls burns its core while idle";
#endif
}

}  // namespace
