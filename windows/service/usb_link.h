// The way to a USB UPS: our helper program Lonavex owns the "Stavlen USB" copy-data window and
// talks to the UPS; the UPS object sends it requests (two int32 values each) and gets its answers
// back as copy-data at an endpoint of its own: identifier 10 with a Q1 reply line, 20 when the UPS
// did not answer.
//
// Requests go out from a thread of the link's own, so the UPS thread never waits for the helper
// and is free to take the answer the helper sends while it handles the request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "ups_commands.h"
#include "ups_lib/platform/copy_data.h"
#include "ups_lib/platform/message_loop.h"

namespace torvane {

inline constexpr std::string_view kUsbHelperCaption = "Stavlen USB";
inline constexpr std::string_view kUsbHelperProgram = "Lonavex";
// Identifiers of the helper's answers, and of the request that asks it to quit.
inline constexpr std::uint32_t kUsbReplyLine = 10;
inline constexpr std::uint32_t kUsbNoAnswer = 20;
inline constexpr std::uint32_t kUsbQuit = 50;
// Requests not yet sent while the helper hangs; older polls are worth nothing by then.
inline constexpr std::size_t kUsbMaxWaiting = 4;

// The request's two values as the helper reads them: 8 bytes, native 32-bit words.
std::string UsbRequestBytes(const UsbRequest& request);
// The two values of a request's bytes; nothing when there are fewer than 8.
std::optional<UsbRequest> ParseUsbRequest(std::uint32_t code, std::string_view bytes);
// The line an identifier-10 answer carries: up to its NUL, at most `max` bytes.
std::string UsbReplyLine(std::string_view data, std::size_t max);

class UsbLink {
  public:
    // `ups` is the UPS window: answers reach it as kWmCopyData; a request the helper could not be
    // given reaches it as kWmCommNotify with lParam kCommNoReply, as a miss.
    explicit UsbLink(platform::WindowHandle ups);
    // Ends a helper this link started.
    ~UsbLink();
    UsbLink(const UsbLink&) = delete;
    UsbLink& operator=(const UsbLink&) = delete;

    // Opens the answer endpoint and starts the helper unless one answers already. False when the
    // endpoint could not be opened (the reason is traced).
    bool Open();
    // Queues a request for the helper; never waits.
    void Request(const UsbRequest& request);
    // Asks the helper to quit (request 50) and, when this link started it, waits for it to end.
    void QuitHelper();

    const std::string& replyCaption() const { return replyCaption_; }
    bool startedHelper() const { return pid_ > 0; }

  private:
    void Run(std::stop_token stop);
    void StartHelper();
    bool HelperExited();

    platform::WindowHandle ups_;
    std::string replyCaption_;
    std::unique_ptr<platform::CopyDataEndpoint> endpoint_;
    int pid_ = -1;  // a helper we started; touched by the sending thread once it runs
    std::chrono::steady_clock::time_point lastStart_{};

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<UsbRequest> waiting_;
    std::jthread sender_;
};

}  // namespace torvane
