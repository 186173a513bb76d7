// CRS232's rules: replies told by the event character or the polled reply, misses counted into
// a disconnect, a dead line reopened at a steady pace. The device itself is a SerialPort, one
// file per platform.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rs232.h"
#include "ups_lib/platform/system_log.h"
#include "ups_lib/trace.h"

namespace torvane {

namespace {

using namespace std::chrono_literals;

constexpr auto kReplyWait = 500ms;
constexpr auto kReopenPace = 1s;
constexpr int kToleratedMisses = 3;
// What the reader keeps of a line that never ends: far more than any reply, and no more.
constexpr std::size_t kMaxPending = 1024;
constexpr std::size_t kPolledRead = 200;

void TraceF(const char* format, const char* text, int number = 0) {
    char line[160];
    std::snprintf(line, sizeof line, format, text, number);
    ups::Trace(line);
}

}  // namespace

std::string ComPortName(int index) {
    if (index < 0 || index > 8) return {};
    return "COM" + std::to_string(index + 1);
}

std::string ComPortPath(int index) {
    if (index < 0 || index > 8) return {};
    std::string var = "TORVANE_" + ComPortName(index);
    const char* path = std::getenv(var.c_str());
    if (path != nullptr && *path != '\0') return path;
#ifdef _WIN32
    return "\\\\.\\" + ComPortName(index);
#else
    return "/dev/ttyS" + std::to_string(index);
#endif
}

CRS232::~CRS232() {
    Close();
}

void CRS232::Open(int portIndex, int baudRate) {
    Close();
    std::scoped_lock lock(writeMutex_, readMutex_);
    name_ = ComPortName(portIndex);
    path_ = ComPortPath(portIndex);
    baud_ = baudRate;
    SerialPort::Failure failure = SerialPort::Failure::kNone;
    int code = 0;
    port_ = SerialPort::Open(path_, baud_, failure, code);
    if (!port_) {
        open_ = false;
        // Said once until the port opens again: the agent tries a missing port every minute.
        const bool alert = !openFailed_;
        openFailed_ = true;
        if (failure == SerialPort::Failure::kOpen) {
            TraceF("CRS232 CreateFile error CODE:%2$d\n", "", code);
            Notify(kCommOpenFailed);
            if (alert) ups::platform::DefaultSystemLog().Alert("Torvane", "Open COM Error!");
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "CRS232 SetCommState error CODE:%d!", code);
            ups::Trace(text);
            if (alert) ups::platform::DefaultSystemLog().Alert("Torvane", text);
            Notify(kCommOpenFailed);
        }
        return;
    }
    openFailed_ = false;
    pending_.clear();
    lost_ = false;
    connected_ = false;
    misses_ = 0;
    wake_.Reset();
    WriteDoneEvent().Reset();
    open_ = true;
    reader_ = std::jthread([this](std::stop_token stop) { ReaderLoop(stop); });
    TraceF("CRS232 open a new com %s port success\n", name_.c_str());
}

void CRS232::Close() {
    {
        std::scoped_lock lock(writeMutex_, readMutex_);
        if (!open_) return;
        TraceF("CRS232 close %s port\n", name_.c_str());
        open_ = false;
        connected_ = false;
        wake_.Set();
        WriteDoneEvent().Set();
        ContinueEvent().Set();
    }
    if (reader_.joinable()) {
        reader_.request_stop();
        reader_.join();
    }
    std::scoped_lock lock(writeMutex_, readMutex_);
    port_.reset();
    name_.clear();
    pending_.clear();
    ContinueEvent().Reset();
}

bool CRS232::IsOpen() const {
    return open_;
}

bool CRS232::IsConnected() const {
    return connected_;
}

int CRS232::Read(char* buffer, int maxBytes) {
    std::lock_guard lock(readMutex_);
    if (!open_ || maxBytes <= 0) return 0;
    auto room = static_cast<std::size_t>(maxBytes);
    std::size_t n = std::min(room, pending_.size());
    std::memcpy(buffer, pending_.data(), n);
    pending_.erase(0, n);
    if (n < room && port_) {
        int more = port_->ReadSome(buffer + n, room - n);
        if (more > 0) n += static_cast<std::size_t>(more);
    }
    return static_cast<int>(n);
}

int CRS232::Write(const char* text) {
    const std::size_t length = std::strlen(text);
    {
        std::scoped_lock lock(writeMutex_, readMutex_);
        if (!open_) return 0;
        if (port_) {
            if (ReadingMode() == kReadEventDriven) {
                // A late or stray reply must not pass for the answer to this command.
                port_->Flush(true, false);
                pending_.clear();
            }
            if (!port_->Write(text, length)) lost_ = true;  // the reader reopens it
        }
    }
    if (WriteSignal() == 1) WriteDoneEvent().Set();
    return static_cast<int>(length);
}

void CRS232::SetEventChar(char c) {
    std::lock_guard lock(readMutex_);
    eventChar_ = c;
}

void CRS232::SetWriteSignal(int flag) {
    writeSignal_ = flag;
}

void CRS232::Purge(int flags) {
    std::lock_guard lock(readMutex_);
    if (port_) port_->Flush((flags & kPurgeReceive) != 0, (flags & kPurgeTransmit) != 0);
    if (flags & kPurgeReceive) pending_.clear();
}

void CRS232::MarkConnected() {
    misses_ = 0;
    if (!connected_.exchange(true)) Notify(kCommConnected);
}

void CRS232::CountMiss() {
    if (!connected_) return;
    if (++misses_ > kToleratedMisses) {
        connected_ = false;
        misses_ = 0;
        Purge(kPurgeTransmit | kPurgeReceive);
        Notify(kCommDisconnected);
        ups::Trace("CRS232 detect disconnect\n");
    }
}

void CRS232::LineLost() {
    std::scoped_lock lock(writeMutex_, readMutex_);
    if (port_) {
        port_.reset();
        TraceF("CRS232 lost %s port\n", name_.c_str());
    }
    pending_.clear();
    lost_ = true;
}

bool CRS232::Reopen() {
    auto now = std::chrono::steady_clock::now();
    if (now - lastReopen_ < kReopenPace) return false;
    lastReopen_ = now;
    {
        // The dead port first: the device is opened for one holder at a time.
        std::scoped_lock lock(writeMutex_, readMutex_);
        port_.reset();
    }
    SerialPort::Failure failure = SerialPort::Failure::kNone;
    int code = 0;
    auto port = SerialPort::Open(path_, baud_, failure, code);
    if (!port) return false;
    std::scoped_lock lock(writeMutex_, readMutex_);
    port_ = std::move(port);
    pending_.clear();
    lost_ = false;
    TraceF("CRS232 reopened %s port\n", name_.c_str());
    return true;
}

bool CRS232::EventModeRound(const std::stop_token& stop) {
    // A reply is due only after a command went out.
    if (platform::WaitAny({&WriteDoneEvent(), &wake_}, platform::kInfinite) != 0) return false;
    if (stop.stop_requested() || !open_) return false;
    if (lost_ && !Reopen()) {
        wake_.Wait(kReplyWait);
        Notify(kCommNoReply);
        CountMiss();
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + kReplyWait;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        // Only this thread replaces the port, so it outlives the wait without the lock.
        SerialPort* port = nullptr;
        {
            std::lock_guard lock(readMutex_);
            port = port_.get();
            if (pending_.find(eventChar_) != std::string::npos) break;
        }
        if (port == nullptr) return true;
        if (left.count() <= 0) {
            Purge(kPurgeTransmit);
            Notify(kCommNoReply);
            CountMiss();
            return true;
        }
        if (port->WaitReadable(left)) {
            bool gone = false;
            {
                std::lock_guard lock(readMutex_);
                char chunk[256];
                int n = port->ReadSome(chunk, sizeof chunk);
                if (n > 0) {
                    // A line that never ends is not kept beyond any reply's length.
                    if (pending_.size() < kMaxPending) {
                        pending_.append(chunk, static_cast<std::size_t>(n));
                    }
                } else {
                    // Readable with nothing to read, or an error: the other end is gone.
                    gone = true;
                }
            }
            if (gone) {
                LineLost();
                return true;
            }
        }
    }
    std::size_t waiting = 0;
    {
        std::lock_guard lock(readMutex_);
        waiting = pending_.size();
    }
    MarkConnected();
    Notify(kCommDataReady, static_cast<int>(waiting));
    return true;
}

bool CRS232::PolledModeRound(const std::stop_token& stop) {
    if (wake_.Wait(kReplyWait) || stop.stop_requested() || !open_) return false;
    if (lost_ && !Reopen()) {
        Notify(kCommNoReply);
        CountMiss();
        return true;
    }
    std::size_t got = 0;
    bool dead = false;
    {
        std::lock_guard lock(readMutex_);
        while (port_ && pending_.size() < kPolledRead) {
            char chunk[kPolledRead];
            int n = port_->ReadSome(chunk, kPolledRead - pending_.size());
            if (n > 0) {
                pending_.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            dead = n < 0;
            break;
        }
        got = pending_.size();
    }
    if (dead) {
        LineLost();
        return true;
    }
    if (got < 8) {
        {
            std::lock_guard lock(readMutex_);
            pending_.clear();
        }
        wake_.Wait(kReplyWait);
        Purge(kPurgeTransmit);
        Notify(kCommNoReply);
        CountMiss();
        return true;
    }
    std::string reply;
    {
        std::lock_guard lock(readMutex_);
        reply = pending_;
        if (port_) port_->Flush(true, true);
        if (reply.find("^D") == std::string::npos) {
            pending_.clear();
            return true;
        }
    }
    MarkConnected();
    Notify(kCommDataReady, static_cast<int>(reply.size()));
    // The UPS object works through the poll sequence with the line to itself, then lets us go on.
    platform::WaitAny({&ContinueEvent(), &wake_}, platform::kInfinite);
    ContinueEvent().Reset();
    return true;
}

void CRS232::ReaderLoop(std::stop_token stop) {
    while (!stop.stop_requested() && open_) {
        bool go_on = ReadingMode() == kReadPolled ? PolledModeRound(stop) : EventModeRound(stop);
        if (!go_on) break;
    }
}

}  // namespace torvane
