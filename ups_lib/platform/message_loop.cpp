#include "message_loop.h"

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <cassert>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "events.h"

namespace platform {
namespace detail {

// Work that one thread hands to another and waits for. Exactly one of two things happens to it:
// the owner thread runs it, or the owner's loop ends first and hands it back unrun. Never both,
// because whoever takes it out of the queue does so under the queue's lock.
struct SentItem {
    std::function<void()> fn;
    Event done{Event::Mode::kManualReset};
    bool ran = false;
    std::exception_ptr error;
};

// The shared state of one window thread. Windows and handles keep it alive, so a window that
// outlives its thread still has a context for its timers to be torn down in. Handlers queued in
// the context hold only weak or plain pointers to it: the context's own destruction must never
// end up destroying the Core that holds it.
struct Core : std::enable_shared_from_this<Core> {
    asio::io_context context;
    asio::executor_work_guard<asio::io_context::executor_type> work =
        asio::make_work_guard(context);
    Event incoming{Event::Mode::kAutoReset};    // a send was queued for this thread
    Event finished{Event::Mode::kManualReset};  // the loop has ended and will not run again
    std::mutex mutex;
    bool accepting = true;  // false from the moment the loop is told to end
    std::deque<std::shared_ptr<SentItem>> sent;

    bool Accepting() {
        std::lock_guard lock(mutex);
        return accepting;
    }

    // On the owner thread: the handler that is running finishes, nothing after it runs.
    void Stop() {
        {
            std::lock_guard lock(mutex);
            accepting = false;
        }
        context.stop();
    }

    // Runs every send queued for this thread, for a thread that waits in a send of its own.
    void RunSent() {
        while (true) {
            std::shared_ptr<SentItem> item;
            {
                std::lock_guard lock(mutex);
                if (sent.empty()) return;
                item = std::move(sent.front());
                sent.pop_front();
            }
            Run(*item);
        }
    }

    // Runs one send in its place among the posted messages, unless a wait ran it already. Only
    // that one: a later send must not overtake the messages posted before it.
    void RunOne(const std::weak_ptr<SentItem>& weak) {
        auto item = weak.lock();
        if (!item) return;
        {
            std::lock_guard lock(mutex);
            auto it = std::find(sent.begin(), sent.end(), item);
            if (it == sent.end()) return;
            sent.erase(it);
        }
        Run(*item);
    }

    static void Run(SentItem& item) {
        try {
            item.fn();
        } catch (...) {
            item.error = std::current_exception();
        }
        item.ran = true;
        item.done.Set();
    }

    // After the loop has returned: senders still waiting get their 0.
    void Finish() {
        std::deque<std::shared_ptr<SentItem>> left;
        {
            std::lock_guard lock(mutex);
            accepting = false;
            left.swap(sent);
        }
        for (auto& item : left) item->done.Set();
        finished.Set();
    }
};

namespace {

thread_local Core* current = nullptr;

// A window thread that waits keeps handling the sends addressed to it, so that two window threads
// sending to each other cannot deadlock.
void WaitHandlingSends(Event& event) {
    Core* self = current;
    if (self == nullptr) {
        event.Wait();
        return;
    }
    while (WaitAny({&event, &self->incoming}, kInfinite) != 0) self->RunSent();
}

// The caller keeps `core` alive.
bool Invoke(Core& core, std::function<void()> fn) {
    if (current == &core) {
        fn();
        return true;
    }
    auto item = std::make_shared<SentItem>();
    item->fn = std::move(fn);
    {
        std::lock_guard lock(core.mutex);
        if (!core.accepting) return false;
        core.sent.push_back(item);
    }
    core.incoming.Set();
    // Behind the messages posted before it; a waiting owner thread takes it sooner.
    asio::post(core.context,
               [c = &core, weak = std::weak_ptr<SentItem>(item)] { c->RunOne(weak); });
    WaitHandlingSends(item->done);
    if (item->error) std::rethrow_exception(item->error);
    return item->ran;
}

}  // namespace

struct WindowSlot {
    std::shared_ptr<Core> core;
    Window* window = nullptr;       // dereferenced only on the owner thread while alive
    std::atomic<bool> alive{true};  // cleared on the owner thread before the window goes

    static std::intptr_t Deliver(const std::weak_ptr<WindowSlot>& weak, std::uint32_t msg,
                                 std::uintptr_t wparam, std::intptr_t lparam) {
        auto slot = weak.lock();
        if (!slot || !slot->alive) return 0;
        return slot->window->Dispatch(msg, wparam, lparam);
    }
    static bool SetTimer(const std::weak_ptr<WindowSlot>& weak, std::uintptr_t id,
                         std::chrono::milliseconds period) {
        auto slot = weak.lock();
        return slot && slot->alive && slot->window->SetTimerHere(id, period);
    }
    static bool KillTimer(const std::weak_ptr<WindowSlot>& weak, std::uintptr_t id) {
        auto slot = weak.lock();
        return slot && slot->alive && slot->window->KillTimerHere(id);
    }
};

std::chrono::steady_clock::time_point NextTimerDue(std::chrono::steady_clock::time_point due,
                                                   std::chrono::steady_clock::duration period,
                                                   std::chrono::steady_clock::time_point now) {
    if (period <= std::chrono::steady_clock::duration::zero()) period = kTimerMinimum;
    auto next = due + period;
    if (next > now) return next;
    auto missed = (now - due) / period;
    return due + (missed + 1) * period;
}

}  // namespace detail

using detail::Core;
using detail::WindowSlot;

// ---- WindowHandle

bool WindowHandle::Post(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam) const {
    auto slot = slot_.lock();
    if (!slot || !slot->alive) return false;
    Core& core = *slot->core;
    if (!core.Accepting()) return false;
    asio::post(core.context, [weak = slot_, msg, wparam, lparam] {
        WindowSlot::Deliver(weak, msg, wparam, lparam);
    });
    return true;
}

std::intptr_t WindowHandle::Send(std::uint32_t msg, std::uintptr_t wparam,
                                 std::intptr_t lparam) const {
    auto slot = slot_.lock();
    if (!slot || !slot->alive) return 0;
    std::intptr_t result = 0;
    detail::Invoke(*slot->core, [&] { result = WindowSlot::Deliver(slot_, msg, wparam, lparam); });
    return result;
}

bool WindowHandle::IsWindow() const {
    auto slot = slot_.lock();
    return slot && slot->alive;
}

bool WindowHandle::SetTimer(std::uintptr_t id, std::chrono::milliseconds period) const {
    auto slot = slot_.lock();
    if (!slot || !slot->alive) return false;
    bool ok = false;
    detail::Invoke(*slot->core, [&] { ok = WindowSlot::SetTimer(slot_, id, period); });
    return ok;
}

bool WindowHandle::KillTimer(std::uintptr_t id) const {
    auto slot = slot_.lock();
    if (!slot || !slot->alive) return false;
    bool ok = false;
    detail::Invoke(*slot->core, [&] { ok = WindowSlot::KillTimer(slot_, id); });
    return ok;
}

bool WindowHandle::operator==(const WindowHandle& other) const {
    return !slot_.owner_before(other.slot_) && !other.slot_.owner_before(slot_);
}

// ---- Window

struct Window::Timers {
    struct Entry {
        explicit Entry(asio::io_context& context) : timer(context) {}
        asio::steady_timer timer;
        std::chrono::steady_clock::duration period{};
        std::chrono::steady_clock::time_point due;
        // Changes with every (re)start, so that a tick already queued for an earlier start is
        // recognised and dropped: cancelling cannot recall a completion already queued.
        std::uint64_t generation = 0;
    };
    std::map<std::uintptr_t, std::unique_ptr<Entry>> by_id;
    std::uint64_t last_generation = 0;
};

Window::Window() {
    Core* core = detail::current;
    if (core == nullptr) throw std::logic_error("a window must be created on a window thread");
    slot_ = std::make_shared<WindowSlot>();
    slot_->core = core->shared_from_this();
    slot_->window = this;
    timers_ = std::make_unique<Timers>();
}

Window::~Window() {
    assert(detail::current == slot_->core.get() ||
           slot_->core->finished.Wait(std::chrono::milliseconds(0)));
    Retire();
}

WindowHandle Window::handle() const {
    return WindowHandle(slot_);
}

asio::io_context& Window::context() const {
    return slot_->core->context;
}

std::intptr_t Window::OnMessage(std::uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

void Window::OnTimer(std::uintptr_t) {}

std::intptr_t Window::Dispatch(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam) {
    if (msg == kWmTimer) {
        OnTimer(wparam);
        return 0;
    }
    if (msg == kWmQuit) {
        slot_->core->Stop();
        return 0;
    }
    return OnMessage(msg, wparam, lparam);
}

bool Window::SetTimerHere(std::uintptr_t id, std::chrono::milliseconds period) {
    period = std::clamp(period, kTimerMinimum, kTimerMaximum);
    auto& entry = timers_->by_id[id];
    if (!entry) entry = std::make_unique<Timers::Entry>(slot_->core->context);
    entry->period = period;
    entry->due = std::chrono::steady_clock::now() + period;
    entry->generation = ++timers_->last_generation;
    Arm(id);
    return true;
}

bool Window::KillTimerHere(std::uintptr_t id) {
    return timers_->by_id.erase(id) != 0;
}

void Window::Arm(std::uintptr_t id) {
    auto& entry = *timers_->by_id.at(id);
    // Setting the expiry cancels a wait still pending on this timer.
    entry.timer.expires_at(entry.due);
    entry.timer.async_wait([weak = std::weak_ptr<WindowSlot>(slot_), id,
                            generation = entry.generation](const std::error_code& error) {
        if (error) return;
        auto slot = weak.lock();
        if (slot && slot->alive) slot->window->Tick(id, generation);
    });
}

void Window::Tick(std::uintptr_t id, std::uint64_t generation) {
    auto it = timers_->by_id.find(id);
    if (it == timers_->by_id.end() || it->second->generation != generation) return;
    auto& entry = *it->second;
    entry.due = detail::NextTimerDue(entry.due, entry.period, std::chrono::steady_clock::now());
    Arm(id);
    OnTimer(id);
}

void Window::Retire() {
    slot_->alive = false;
    timers_->by_id.clear();
}

// ---- WindowDeleter

void WindowDeleter::operator()(Window* window) const noexcept {
    if (window == nullptr) return;
    std::shared_ptr<Core> core = window->slot_->core;
    auto destroy = [window] {
        window->Retire();
        std::unique_ptr<Window> owned(window);
    };
    if (detail::Invoke(*core, destroy)) return;
    // The loop was told to end; its last handler may still be using the window.
    detail::WaitHandlingSends(core->finished);
    destroy();
}

// ---- WindowThread

WindowThread::WindowThread() : core_(std::make_shared<Core>()) {
    thread_ = std::jthread([core = core_.get()] {
        detail::current = core;
        core->context.run();
        core->Finish();
        detail::current = nullptr;
    });
}

WindowThread::~WindowThread() {
    // A thread cannot wait for its own end; better a clear stop than a hang.
    if (IsCurrent()) std::terminate();
    Quit();
    // A window thread that ends another one keeps answering its sends until it has ended: the
    // other thread may be waiting in a send to this one, and would never reach its quit.
    detail::WaitHandlingSends(core_->finished);
    thread_.join();
}

bool WindowThread::Invoke(const std::function<void()>& fn) {
    return detail::Invoke(*core_, fn);
}

void WindowThread::Quit() {
    asio::post(core_->context, [core = core_.get()] { core->Stop(); });
}

void WindowThread::WaitUntilQuit() {
    if (IsCurrent()) return;
    detail::WaitHandlingSends(core_->finished);
}

bool WindowThread::IsCurrent() const {
    return detail::current == core_.get();
}

asio::io_context& WindowThread::context() const {
    return core_->context;
}

}  // namespace platform
