// Windows, messages and timers as the agent's threads use them: a "window" is an object owned by
// one thread; other threads reach it only through its handle, by posting or sending a message.
//
// Every window thread runs an Asio io_context, so sockets can live on a window's thread too
// (context()). An idle thread sleeps in the io_context and wakes only for a message, a timer or
// its sockets.
//
// What a send guarantees:
// - On the owner thread it is a plain call of the handler.
// - From another thread it waits for the handler's result. When the owner thread has quit, or quits
//   before it got to the message, the send returns 0 and the handler never runs.
// - While a window thread waits in a send (or in Invoke, SetTimer, KillTimer or a window's
//   destruction from another thread), it handles the sends addressed to its own windows, as Windows
//   does; so two window threads that send to each other never deadlock. Posted messages and timers
//   wait until the handler that sent has returned. A handler may therefore be entered again by a
//   send while it is itself sending.
// - Nothing guards against a handler that waits for something else (an event, a lock) that only
//   another window thread's posted message would release.
// An exception thrown by a handler reaches the sender of a send (or the caller of Invoke and
// Create); one that escapes a posted message's or a timer's handler ends the program, as there is
// nobody left to report it to.
//
// The Win32 names (WM_USER, PostMessage, SendMessage) are macros in <windows.h>, so the constants
// carry a k prefix and the handle's own operations are Post and Send. The PostMessage and
// SendMessage helpers are inline, so a translation unit that includes <windows.h> before this
// header still compiles and links; one that includes it after must call Post and Send.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

namespace asio {
class io_context;
}

namespace platform {

// Message ids, with the values Windows gives them.
inline constexpr std::uint32_t kWmNull = 0x0000;
inline constexpr std::uint32_t kWmClose = 0x0010;
// Posted or sent to a window: its thread's loop ends once this message has been handled.
inline constexpr std::uint32_t kWmQuit = 0x0012;
inline constexpr std::uint32_t kWmCopyData = 0x004A;
inline constexpr std::uint32_t kWmCommNotify = 0x0044;
inline constexpr std::uint32_t kWmCommand = 0x0111;
// A window's timers reach OnTimer; a posted or sent kWmTimer with the id in wParam does too.
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmUser = 0x0400;

// The shortest and longest timer periods; others are brought into this range, as Windows does,
// so that a period of 0 cannot keep a thread spinning and a huge one cannot overflow the clock.
inline constexpr std::chrono::milliseconds kTimerMinimum{10};
inline constexpr std::chrono::milliseconds kTimerMaximum{0x7FFFFFFF};

namespace detail {
struct Core;
struct WindowSlot;

// The due time of a periodic timer's next tick after the one due at `due` fired at `now`: one
// period on, so that late handling never shifts the phase; ticks missed while the thread was busy
// are skipped rather than fired in a burst.
std::chrono::steady_clock::time_point NextTimerDue(std::chrono::steady_clock::time_point due,
                                                   std::chrono::steady_clock::duration period,
                                                   std::chrono::steady_clock::time_point now);
}  // namespace detail

// Names a window without owning it; any thread may hold and use one. Once the window is destroyed
// the handle stays safe to use: posts return false, sends return 0.
class WindowHandle {
  public:
    WindowHandle() = default;

    // Queues the message behind those already posted; false when the window or its thread is gone.
    bool Post(std::uint32_t msg, std::uintptr_t wparam = 0, std::intptr_t lparam = 0) const;
    // The handler's result; 0 when the window or its thread is gone or quits before handling it.
    std::intptr_t Send(std::uint32_t msg, std::uintptr_t wparam = 0,
                       std::intptr_t lparam = 0) const;
    bool IsWindow() const;

    // Starts (or restarts, when the id runs already) a periodic timer of the window; false when the
    // window is gone. From another thread these wait until the owner thread has done it.
    bool SetTimer(std::uintptr_t id, std::chrono::milliseconds period) const;
    // Once it returns the timer never ticks again, even if its tick was already waiting in the
    // queue. False when there was no such timer.
    bool KillTimer(std::uintptr_t id) const;

    bool operator==(const WindowHandle& other) const;

  private:
    friend class Window;
    explicit WindowHandle(std::weak_ptr<detail::WindowSlot> slot) : slot_(std::move(slot)) {}
    std::weak_ptr<detail::WindowSlot> slot_;
};

inline bool PostMessage(const WindowHandle& window, std::uint32_t msg, std::uintptr_t wparam = 0,
                        std::intptr_t lparam = 0) {
    return window.Post(msg, wparam, lparam);
}

inline std::intptr_t SendMessage(const WindowHandle& window, std::uint32_t msg,
                                 std::uintptr_t wparam = 0, std::intptr_t lparam = 0) {
    return window.Send(msg, wparam, lparam);
}

// Base of every window. It must be constructed on a window thread (WindowThread::Create does
// that) and is owned by that thread: its handlers run there, one at a time, and it must be
// destroyed there too (a WindowPtr takes care of it from any thread).
class Window {
  public:
    Window();
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    WindowHandle handle() const;
    bool SetTimer(std::uintptr_t id, std::chrono::milliseconds period) {
        return handle().SetTimer(id, period);
    }
    bool KillTimer(std::uintptr_t id) { return handle().KillTimer(id); }
    // The owner thread's io_context, for sockets whose handlers must run beside the window's.
    asio::io_context& context() const;

  protected:
    virtual std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam);
    virtual void OnTimer(std::uintptr_t id);

  private:
    friend struct detail::WindowSlot;
    friend struct WindowDeleter;
    struct Timers;

    std::intptr_t Dispatch(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam);
    void Tick(std::uintptr_t id, std::uint64_t generation);
    void Arm(std::uintptr_t id);
    bool SetTimerHere(std::uintptr_t id, std::chrono::milliseconds period);
    bool KillTimerHere(std::uintptr_t id);
    // Makes the window unreachable before its derived parts are torn down, so that a send handled
    // while a destructor waits cannot reach a half-destroyed window.
    void Retire();

    std::shared_ptr<detail::WindowSlot> slot_;
    std::unique_ptr<Timers> timers_;
};

// Destroys a window on its owner thread, waiting for it; once that thread has ended, on the
// calling thread.
struct WindowDeleter {
    void operator()(Window* window) const noexcept;
};

template <class T>
using WindowPtr = std::unique_ptr<T, WindowDeleter>;

// A thread with a message loop for windows. The destructor quits the loop and joins the thread;
// it must not run on that thread itself. Windows may outlive it; they are then destroyed on the
// thread that lets go of them.
class WindowThread {
  public:
    WindowThread();
    ~WindowThread();
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    // Constructs a T on this thread and waits for it; null when the thread has quit. An exception
    // from T's constructor reaches the caller.
    template <class T, class... Args>
    WindowPtr<T> Create(Args&&... args) {
        static_assert(std::is_base_of_v<Window, T>);
        std::unique_ptr<T> made;
        if (!Invoke([&] { made = std::make_unique<T>(std::forward<Args>(args)...); }))
            return nullptr;
        return WindowPtr<T>(made.release());
    }

    // Runs `fn` on this thread and waits for it (inline when called there); false when the thread
    // has quit and `fn` was not run. An exception from `fn` reaches the caller.
    bool Invoke(const std::function<void()>& fn);

    // Ends the loop once the messages posted so far are handled; later posts return false and
    // waiting sends return 0. Any thread may call it, any number of times.
    void Quit();
    // Blocks until the loop has ended (at once when called on this thread, where it cannot end).
    void WaitUntilQuit();
    // True on this thread.
    bool IsCurrent() const;
    asio::io_context& context() const;

  private:
    std::shared_ptr<detail::Core> core_;
    std::jthread thread_;
};

}  // namespace platform
