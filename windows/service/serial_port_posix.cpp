// The serial device on POSIX: termios, a non-blocking descriptor and poll().
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "serial_port.h"

namespace torvane {

namespace {

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

}  // namespace

struct SerialPort::Handle {
    int fd = -1;
    ~Handle() {
        if (fd >= 0) ::close(fd);
    }
};

SerialPort::SerialPort(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
SerialPort::~SerialPort() = default;

// A real port starts with software flow control and line editing on, which would swallow or
// hold replies; a pty hides that, so both are switched off explicitly.
std::unique_ptr<SerialPort> SerialPort::Open(const std::string& path, int baud, Failure& failure,
                                             int& code) {
    auto handle = std::make_unique<Handle>();
    handle->fd =
        path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int fd = handle->fd;
    if (fd < 0) {
        code = path.empty() ? ENOENT : errno;
        failure = Failure::kOpen;
        return nullptr;
    }
    termios t{};
    if (!isatty(fd) || tcgetattr(fd, &t) != 0) {
        code = isatty(fd) ? errno : ENOTTY;
        failure = Failure::kSettings;
        return nullptr;
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
        failure = Failure::kSettings;
        return nullptr;
    }
    tcflush(fd, TCIOFLUSH);
    failure = Failure::kNone;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(handle)));
}

bool SerialPort::WaitReadable(std::chrono::milliseconds wait) {
    pollfd p{handle_->fd, POLLIN, 0};
    // A hang-up or error wakes poll() too: the read after it tells the line is gone.
    return ::poll(&p, 1, static_cast<int>(wait.count())) > 0;
}

int SerialPort::ReadSome(char* buffer, std::size_t size) {
    // With VMIN and VTIME 0 a tty returns 0 when nothing is there, and EIO once the other end
    // of the line is gone.
    ssize_t n = ::read(handle_->fd, buffer, size);
    if (n >= 0) return static_cast<int>(n);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

bool SerialPort::Write(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(handle_->fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return !(n < 0 && errno != EAGAIN);  // a full output buffer is no dead line
        }
    }
    return true;
}

void SerialPort::Flush(bool input, bool output) {
    if (input && output) {
        tcflush(handle_->fd, TCIOFLUSH);
    } else if (input) {
        tcflush(handle_->fd, TCIFLUSH);
    } else if (output) {
        tcflush(handle_->fd, TCOFLUSH);
    }
}

}  // namespace torvane
