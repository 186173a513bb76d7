// The local copy-data link: one program hands another a block of bytes under a 32-bit
// identifier, as WM_COPYDATA does between windows. A receiver opens an endpoint under a caption
// (the text a sender finds it by, like a window's title); each message reaches a window of the
// receiver's as a synchronous kWmCopyData with lParam pointing at a CopyDataMessage, and the
// handler's result goes back to the sender. A sender finds the endpoint by its caption and waits
// for that result no longer than its time limit.
//
// On POSIX an endpoint is a Unix-domain SOCK_SEQPACKET socket in the run directory
// ($TORVANE_RUNDIR, default /run/torvane), one socket file per caption. The directory must
// belong to root or to us and be writable by nobody else, so no other user can plant an
// endpoint; the socket file is for its owner only, and both sides check the peer's credentials
// (the same user or root), so no other user can talk to an endpoint or pose as one.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "message_loop.h"

namespace platform {

// How long a sender waits for the receiver's handler, as the agent's synchronous sends do.
inline constexpr std::chrono::milliseconds kCopyDataTimeout{5000};
// The largest block one message carries; anything larger is refused, not cut.
inline constexpr std::size_t kCopyDataMaxBytes = 64 * 1024;
// The longest caption; longer ones name no endpoint.
inline constexpr std::size_t kCopyDataMaxCaption = 64;

// What a kWmCopyData handler receives, valid until it returns.
struct CopyDataMessage {
    std::uint32_t identifier = 0;
    std::string_view data;
    // The caption of the endpoint the sender takes replies at; empty when it named none.
    std::string_view sender;
};

enum class CopyDataStatus {
    kDelivered,  // the handler ran; its result is in `result`
    kNoWindow,   // no endpoint answers under that caption
    kRefused,    // the endpoint or the caption is not acceptable (other user, bad name, size)
    kTimedOut,   // the handler did not return within the time limit
    kBroken,     // the receiver went away before it answered
};

struct CopyDataResult {
    CopyDataStatus status = CopyDataStatus::kNoWindow;
    std::intptr_t result = 0;
    bool delivered() const { return status == CopyDataStatus::kDelivered; }
};

// The directory that holds the endpoints.
std::filesystem::path CopyDataDirectory();

// Sends `data` under `identifier` to the endpoint captioned `caption` and waits up to `timeout`
// for the handler's result. `sender` is the caption replies should go to (may be empty).
CopyDataResult SendCopyData(std::string_view caption, std::uint32_t identifier,
                            std::string_view data, std::string_view sender = {},
                            std::chrono::milliseconds timeout = kCopyDataTimeout);

// True when an endpoint of that caption exists and accepts us, as FindWindow finds a window.
bool FindCopyDataWindow(std::string_view caption);

// An endpoint under one caption. Messages are handed to the window one at a time, in the order
// they arrive, from a thread of the endpoint's own; so the window's thread may itself send
// copy-data while the endpoint waits for it.
class CopyDataEndpoint {
  public:
    // Null (and `error` says why) when the caption is taken by a live endpoint, is not a valid
    // name, or the run directory is not safe.
    static std::unique_ptr<CopyDataEndpoint> Open(std::string_view caption, WindowHandle window,
                                                  std::string* error = nullptr);
    // Removes the caption; a message being handled is answered first. Not on the window's own
    // thread while a message may be waiting for it.
    ~CopyDataEndpoint();
    CopyDataEndpoint(const CopyDataEndpoint&) = delete;
    CopyDataEndpoint& operator=(const CopyDataEndpoint&) = delete;

    const std::string& caption() const { return caption_; }

    struct Impl;
    // Only Open makes endpoints.
    class Key {
        friend class CopyDataEndpoint;
        Key() = default;
    };
    CopyDataEndpoint(Key, std::string caption, std::unique_ptr<Impl> impl);

  private:
    std::string caption_;
    std::unique_ptr<Impl> impl_;
};

namespace detail {
// The socket file name of a caption: letters, digits, '.', '_' and '-' stand for themselves,
// every other byte is %XX; empty when the caption is empty or too long.
std::string CopyDataFileName(std::string_view caption);
}  // namespace detail

}  // namespace platform
