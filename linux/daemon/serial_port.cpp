#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "console_msg.h"
#include "serial_timing.h"
#include "unique_fd.h"

namespace {

// The settings the UPS needs. A real serial port starts with settings a pseudo-terminal never
// has, so everything that could take a byte from the line as something other than data is
// switched off: the protocol has no flow control (one XOFF of line noise would otherwise stop
// our output for good) and no byte of it is a signal or an editing character.
void MakeUpsSettings(termios& t) {
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | HUPCL | CBAUDEX | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL;
    cfsetispeed(&t, B2400);
    cfsetospeed(&t, B2400);
    t.c_lflag &= ~(ICANON | ECHO | ECHOE | ISIG | IEXTEN);
    t.c_iflag &= ~(INLCR | ICRNL | IGNCR | IXON | IXOFF | IXANY | ISTRIP);
    t.c_oflag &= ~(ONLCR | OCRNL);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 20;
}

class RealTiming : public SerialTiming {
  public:
    Clock::time_point Now() override { return Clock::now(); }
    bool WaitReadable(int fd, std::chrono::milliseconds timeout) override {
        pollfd p{fd, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, static_cast<int>(timeout.count()));
        } while (r < 0 && errno == EINTR);
        return r > 0;
    }
    void Sleep(std::chrono::milliseconds how_long) override {
        std::this_thread::sleep_for(how_long);
    }
};

RealTiming g_real_timing;
SerialTiming* g_timing = &g_real_timing;

bool LinkGone(int err) {
    return err != EAGAIN && err != EWOULDBLOCK && err != EINTR;
}

}  // namespace

SerialTiming& CurrentSerialTiming() {
    return *g_timing;
}
void UseSerialTiming(SerialTiming* timing) {
    g_timing = timing ? timing : &g_real_timing;
}

int A_UPSOpenPort(const char* path) {
    kelvora::UniqueFd fd(::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return -1;
    termios t{};
    if (tcgetattr(fd.get(), &t) != 0) return -1;
    MakeUpsSettings(t);
    if (tcsetattr(fd.get(), TCSANOW, &t) != 0) return -1;
    return fd.Release();
}

int A_UPSsureInit(const char* path) {
    kelvora::UniqueFd fd(::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return -1;
    CurrentSerialTiming().Sleep(std::chrono::seconds(1));
    termios saved{};
    if (tcgetattr(fd.get(), &saved) != 0) return -1;
    termios wanted = saved;
    MakeUpsSettings(wanted);
    if (tcsetattr(fd.get(), TCSANOW, &wanted) != 0) return -1;
    std::string reply;
    if (GetUPSResponse(fd.get(), q1::kStatus.command, reply) == 1) return fd.Release();
    tcsetattr(fd.get(), TCSANOW, &saved);
    return -1;
}

int fdread(int fd, std::string& reply) {
    SerialTiming& timing = CurrentSerialTiming();
    reply.clear();
    std::string line;
    line.reserve(kReplyMax + 1);
    const auto start = timing.Now();
    bool complete = false;
    // The window is three whole seconds; a UPS that has not finished its line by then is silent.
    while (!complete && timing.Now() - start < std::chrono::seconds(3)) {
        if (!timing.WaitReadable(fd, std::chrono::seconds(1))) continue;
        char chunk[64];
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && !LinkGone(errno)) continue;
        if (n <= 0) return kLinkLost;  // hung up: waiting on would only spin
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
    // What is still waiting is the rest of an earlier answer or noise; read now, it would stand
    // in for the reply to this question.
    tcflush(fd, TCIFLUSH);
    if (SendUPSCommand(fd, command) < 0) return LinkGone(errno) ? kLinkLost : -1;
    CurrentSerialTiming().Sleep(std::chrono::seconds(1));
    return fdread(fd, reply);
}
