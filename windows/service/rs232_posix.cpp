// The serial port on POSIX: termios, a non-blocking descriptor and poll(). The Windows build
// has its own file for the same class.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
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

speed_t Speed(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        default:
            return B2400;
    }
}

enum class OpenError { kNone, kOpen, kSettings };

// A port as the UPS needs it: 8 data bits, no parity, one stop bit, raw. A real port starts with
// software flow control and line editing on, which would swallow or hold replies; a pty hides
// that, so it is switched off explicitly. Whatever sat in the buffers is thrown away.
int OpenDevice(const std::string& path, int baud, OpenError& error, int& code) {
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        code = path.empty() ? ENOENT : errno;
        error = OpenError::kOpen;
        return -1;
    }
    termios t{};
    if (!isatty(fd) || tcgetattr(fd, &t) != 0) {
        code = isatty(fd) ? errno : ENOTTY;
        ::close(fd);
        error = OpenError::kSettings;
        return -1;
    }
    ::ioctl(fd, TIOCEXCL);  // nobody else opens the UPS's port while we hold it
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, Speed(baud));
    cfsetospeed(&t, Speed(baud));
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        code = errno;
        ::close(fd);
        error = OpenError::kSettings;
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    error = OpenError::kNone;
    return fd;
}

// A descriptor that reports the line gone: a pulled adapter, a hung-up pty, an I/O error.
bool Dead(int revents) {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
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
    return "/dev/ttyS" + std::to_string(index);
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
    OpenError error = OpenError::kNone;
    int code = 0;
    fd_ = OpenDevice(path_, baud_, error, code);
    if (fd_ < 0) {
        open_ = false;
        if (error == OpenError::kOpen) {
            TraceF("CRS232 CreateFile error CODE:%2$d\n", "", code);
            Notify(kCommOpenFailed);
            ups::platform::DefaultSystemLog().Alert("Torvane", "Open COM Error!");
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "CRS232 SetCommState error CODE:%d!", code);
            ups::Trace(text);
            ups::platform::DefaultSystemLog().Alert("Torvane", text);
            Notify(kCommOpenFailed);
        }
        return;
    }
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
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
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
    if (n < room && fd_ >= 0) {
        ssize_t more = ::read(fd_, buffer + n, room - n);
        if (more > 0) n += static_cast<std::size_t>(more);
    }
    return static_cast<int>(n);
}

int CRS232::Write(const char* text) {
    const std::size_t length = std::strlen(text);
    {
        std::scoped_lock lock(writeMutex_, readMutex_);
        if (!open_) return 0;
        if (fd_ >= 0) {
            if (ReadingMode() == kReadEventDriven) {
                // A late or stray reply must not pass for the answer to this command.
                tcflush(fd_, TCIFLUSH);
                pending_.clear();
            }
            std::size_t done = 0;
            while (done < length) {
                ssize_t n = ::write(fd_, text + done, length - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else {
                    if (n < 0 && errno != EAGAIN) lost_ = true;  // the reader reopens it
                    break;
                }
            }
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
    if (fd_ >= 0 && (flags & kPurgeTransmit)) tcflush(fd_, TCOFLUSH);
    if (flags & kPurgeReceive) {
        if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
        pending_.clear();
    }
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
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        TraceF("CRS232 lost %s port\n", name_.c_str());
    }
    pending_.clear();
    lost_ = true;
}

bool CRS232::Reopen() {
    auto now = std::chrono::steady_clock::now();
    if (now - lastReopen_ < kReopenPace) return false;
    lastReopen_ = now;
    OpenError error = OpenError::kNone;
    int code = 0;
    int fd = OpenDevice(path_, baud_, error, code);
    if (fd < 0) return false;
    std::scoped_lock lock(writeMutex_, readMutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
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
        int fd = -1;
        {
            std::lock_guard lock(readMutex_);
            fd = fd_;
            if (pending_.find(eventChar_) != std::string::npos) break;
        }
        if (fd < 0) return true;
        if (left.count() <= 0) {
            Purge(kPurgeTransmit);
            Notify(kCommNoReply);
            CountMiss();
            return true;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0) {
            bool gone = false;
            {
                std::lock_guard lock(readMutex_);
                if (fd_ != fd) continue;
                char chunk[256];
                ssize_t n = ::read(fd, chunk, sizeof chunk);
                if (n > 0) {
                    // A line that never ends is not kept beyond any reply's length.
                    if (pending_.size() < kMaxPending) {
                        pending_.append(chunk, static_cast<std::size_t>(n));
                    }
                } else {
                    // Readable with nothing to read, or an error: the other end is gone.
                    gone = n == 0 || (errno != EAGAIN && errno != EINTR) || Dead(p.revents);
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
        while (fd_ >= 0 && pending_.size() < kPolledRead) {
            char chunk[kPolledRead];
            ssize_t n = ::read(fd_, chunk, kPolledRead - pending_.size());
            if (n > 0) {
                pending_.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EIO) dead = true;
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
        if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
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

#endif  // _WIN32
