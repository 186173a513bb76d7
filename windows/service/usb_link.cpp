#include "usb_link.h"

#include <atomic>
#include <cstring>

#include "child_process.h"
#include "comm_link.h"
#include "ups_lib/trace.h"

namespace torvane {

namespace {

// Long enough for a helper to close its port and go.
constexpr auto kQuitWait = std::chrono::milliseconds(2000);
// A helper that keeps dying is not started again more often than this.
constexpr auto kRestartPause = std::chrono::seconds(10);

std::string NextReplyCaption() {
    static std::atomic<int> serial{0};
    std::string caption("Torvane UPS ");
    caption.append(std::to_string(getpid())).append(".").append(std::to_string(++serial));
    return caption;
}

}  // namespace

std::string UsbRequestBytes(const UsbRequest& request) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &request.first, 4);
    std::memcpy(bytes.data() + 4, &request.second, 4);
    return bytes;
}

std::optional<UsbRequest> ParseUsbRequest(std::uint32_t code, std::string_view bytes) {
    if (bytes.size() < 8) return std::nullopt;
    UsbRequest request{static_cast<int>(code), 0, 0};
    std::memcpy(&request.first, bytes.data(), 4);
    std::memcpy(&request.second, bytes.data() + 4, 4);
    return request;
}

std::string UsbReplyLine(std::string_view data, std::size_t max) {
    data = data.substr(0, data.find('\0'));
    return std::string(data.substr(0, max));
}

UsbLink::UsbLink(platform::WindowHandle ups) : ups_(ups), replyCaption_(NextReplyCaption()) {}

UsbLink::~UsbLink() {
    if (startedHelper()) {
        QuitHelper();
    } else {
        sender_ = {};
    }
}

bool UsbLink::Open() {
    std::string error;
    endpoint_ = platform::CopyDataEndpoint::Open(replyCaption_, ups_, &error);
    if (!endpoint_) {
        ups::Trace(std::string("USB helper link: ").append(error).append("\n"));
        return false;
    }
    if (!platform::FindCopyDataWindow(kUsbHelperCaption)) StartHelper();
    sender_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    return true;
}

void UsbLink::StartHelper() {
    lastStart_ = std::chrono::steady_clock::now();
    auto path = FindOutsideProgram(kUsbHelperProgram);
    if (path.empty()) {
        ups::Trace("USB helper Lonavex not found\n");
        return;
    }
    auto pid = StartProcess({path.string()});
    if (!pid) {
        ups::Trace("USB helper Lonavex could not be started\n");
        return;
    }
    pid_ = *pid;
}

bool UsbLink::HelperExited() {
    if (pid_ <= 0) return false;
    if (!ProcessEnded(pid_)) return false;
    pid_ = -1;
    return true;
}

void UsbLink::Request(const UsbRequest& request) {
    {
        std::lock_guard lock(mutex_);
        if (waiting_.size() >= kUsbMaxWaiting) waiting_.pop_front();
        waiting_.push_back(request);
    }
    wake_.notify_one();
}

void UsbLink::Run(std::stop_token stop) {
    while (true) {
        UsbRequest request{};
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [&] { return !waiting_.empty(); })) return;
            request = waiting_.front();
            waiting_.pop_front();
        }
        auto sent =
            platform::SendCopyData(kUsbHelperCaption, static_cast<std::uint32_t>(request.code),
                                   UsbRequestBytes(request), replyCaption_);
        if (sent.delivered()) continue;
        // Nobody took the request: for the UPS object that is an unanswered poll, so a helper
        // that died or hangs ends in a disconnected UPS instead of frozen readings.
        ups_.Post(platform::kWmCommNotify, 0, kCommNoReply);
        if (sent.status == platform::CopyDataStatus::kNoWindow &&
            std::chrono::steady_clock::now() - lastStart_ >= kRestartPause &&
            (pid_ <= 0 || HelperExited())) {
            ups::Trace("USB helper ended: starting it again\n");
            StartHelper();
        }
    }
}

void UsbLink::QuitHelper() {
    sender_ = {};  // no request races the quit
    std::int32_t zero = 0;
    platform::SendCopyData(kUsbHelperCaption, kUsbQuit,
                           std::string_view(reinterpret_cast<const char*>(&zero), sizeof zero),
                           replyCaption_, kQuitWait);
    if (pid_ <= 0) return;
    auto deadline = std::chrono::steady_clock::now() + kQuitWait;
    while (!HelperExited()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            StopProcess(pid_);
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace torvane
