#include "local_link.h"

#include <utility>

#include "main_frame.h"
#include "ups_lib/trace.h"

namespace torvane {

CLocalLink::CLocalLink(Sender sender) : sender_(std::move(sender)) {
    if (!sender_) {
        sender_ = [](const Outgoing& m) {
            // Only while the panel's window exists, as a send to a window that has gone would
            // wait the whole time limit for nothing.
            if (!platform::FindCopyDataWindow(kPanelTitle)) return platform::CopyDataResult{};
            return platform::SendCopyData(kPanelTitle, m.code, m.data, kFrameTitle);
        };
    }
    thread_ = std::thread([this] { Run(); });
}

CLocalLink::~CLocalLink() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CLocalLink::Register() {
    std::lock_guard lock(mutex_);
    // Afresh even when one was registered: a failure on the way to the earlier panel must not
    // make the link forget this one.
    registered_ = true;
    ++generation_;
}

void CLocalLink::Forget() {
    std::lock_guard lock(mutex_);
    registered_ = false;
    queue_.clear();
    idle_.notify_all();
}

bool CLocalLink::Registered() const {
    std::lock_guard lock(mutex_);
    return registered_;
}

void CLocalLink::Send(std::uint32_t code, std::string_view payload) {
    {
        std::lock_guard lock(mutex_);
        if (!registered_) return;
        if (queue_.size() >= kMaxQueued) {
            ups::Trace("Send copy data error\n");
            registered_ = false;
            queue_.clear();
            idle_.notify_all();
            return;
        }
        queue_.push_back({code, std::string(payload)});
    }
    wake_.notify_one();
}

void CLocalLink::Flush() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

void CLocalLink::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
        if (quit_) return;
        Outgoing message = std::move(queue_.front());
        queue_.pop_front();
        const std::uint64_t generation = generation_;
        busy_ = true;
        lock.unlock();
        const platform::CopyDataResult result = sender_(message);
        lock.lock();
        busy_ = false;
        if (!result.delivered()) {
            ups::Trace("Send copy data error\n");
            // Gone or hung: what is queued would meet the same fate, a time limit each. A
            // message refused (too large for the link) costs only itself.
            const bool lost = result.status != platform::CopyDataStatus::kRefused;
            if (lost && generation == generation_) {
                registered_ = false;
                queue_.clear();
            }
        }
        if (queue_.empty()) idle_.notify_all();
    }
}

}  // namespace torvane
