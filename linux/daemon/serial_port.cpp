#include "serial_port.h"

#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "console_msg.h"

namespace {

// The settings the UPS needs; everything not named here is left as the port had it.
void MakeUpsSettings(termios& t) {
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | HUPCL | CBAUDEX);
    t.c_cflag |= CS8 | CLOCAL;
    cfsetispeed(&t, B2400);
    cfsetospeed(&t, B2400);
    t.c_lflag &= ~(ICANON | ECHO | ECHOE);
    t.c_iflag &= ~(INLCR | ICRNL);
    t.c_oflag &= ~(ONLCR | OCRNL);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 20;
}

bool WaitReadable(int fd, int seconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval tv{seconds, 0};
    return ::select(fd + 1, &set, nullptr, nullptr, &tv) > 0;
}

}  // namespace

int A_UPSsureInit(const char* path) {
    int fd = ::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    sleep(1);
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        ::close(fd);
        return -1;
    }
    termios wanted = saved;
    MakeUpsSettings(wanted);
    if (tcsetattr(fd, TCSANOW, &wanted) != 0) {
        ::close(fd);
        return -1;
    }
    std::string reply;
    if (GetUPSResponse(fd, "Q1\r", reply) == 1) return fd;
    tcsetattr(fd, TCSANOW, &saved);
    ::close(fd);
    return -1;
}

int fdread(int fd, std::string& reply) {
    using Clock = std::chrono::steady_clock;
    reply.clear();
    std::string line;
    line.reserve(kReplyMax + 1);
    const auto start = Clock::now();
    bool complete = false;
    // The window is three whole seconds; a UPS that has not finished its line by then is silent.
    while (!complete && Clock::now() - start < std::chrono::seconds(3)) {
        if (!WaitReadable(fd, 1)) continue;
        char chunk[64];
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return -1;  // the line hung up: waiting on would only spin
        for (ssize_t i = 0; i < n && !complete; ++i) {
            if (chunk[i] == '\0') continue;  // line noise, never part of a reply
            line.push_back(chunk[i]);
            if (line.size() > kReplyMax) {
                PrintToConsole("input buffer overflow");
                return -1;
            }
            complete = chunk[i] == '\r';
        }
    }
    if (!complete) return -1;
    reply = line;
    return (reply[0] == '(' || reply[0] == '#') ? 1 : -1;
}

int SendUPSCommand(int fd, std::string_view command) {
    ssize_t n;
    do {
        n = ::write(fd, command.data(), command.size());
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int GetUPSResponse(int fd, std::string_view command, std::string& reply) {
    reply.clear();
    if (SendUPSCommand(fd, command) < 0) return -1;
    sleep(1);
    return fdread(fd, reply);
}
