// The agent's local client: the control panel on the same machine, which finds the frame by its
// title and talks to it with copy-data messages (identifier = link code, data = the payload).
// It registers with code 1 and leaves with code 2; the agent answers to the panel's own window,
// "Kelvora 2000 for Windows".
//
// Sending is synchronous with a time limit, as copy-data is; so it happens on a thread of its
// own, in order, and the frame never waits for a panel. A panel that has gone, or hangs past the
// limit, is forgotten together with what was still queued for it: it registers again when it
// comes back. Otherwise a hung panel would hold up every reaction of the frame, the shutdown
// among them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "ups_lib/platform/copy_data.h"

namespace torvane {

inline constexpr const char* kPanelTitle = "Kelvora 2000 for Windows";

class CLocalLink {
  public:
    struct Outgoing {
        std::uint32_t code = 0;
        std::string data;
    };
    // Delivers one message to the panel; the copy-data send by default. Tests put their own.
    using Sender = std::function<platform::CopyDataResult(const Outgoing&)>;

    // Messages waiting for a panel that does not take them; more and the panel is forgotten.
    static constexpr std::size_t kMaxQueued = 256;

    explicit CLocalLink(Sender sender = {});
    // Waits for the message being delivered (at most the copy-data time limit).
    ~CLocalLink();
    CLocalLink(const CLocalLink&) = delete;
    CLocalLink& operator=(const CLocalLink&) = delete;

    // Code 1: from now on messages go to the panel.
    void Register();
    // Code 2, or before the shutdown: the panel is forgotten and nothing more is sent.
    void Forget();
    bool Registered() const;

    // Queues one message when a panel is registered; `payload` is what follows the code.
    void Send(std::uint32_t code, std::string_view payload = {});

    // Waits until everything queued has been delivered or dropped; for tests.
    void Flush();

  private:
    void Run();

    Sender sender_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Outgoing> queue_;
    bool registered_ = false;
    // Rises with each registration, so that a failed delivery to an earlier panel does not make
    // the link forget a later one.
    std::uint64_t generation_ = 0;
    bool busy_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace torvane
