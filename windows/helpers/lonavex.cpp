// Lonavex: the agent's way to a USB UPS. It owns the "Stavlen USB" copy-data window, turns each
// request of the agent into the UPS's Q1 command on a USB-serial adapter ($TORVANE_USB_DEVICE,
// default /dev/ttyUSB0) and sends the reply line back to the endpoint the request came from
// (identifier 10), or identifier 20 when the UPS did not answer a query. Request 50, SIGTERM or
// SIGINT end it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "q1_dialect.h"
#include "ups_commands.h"
#include "ups_lib/platform/copy_data.h"
#include "ups_lib/platform/events.h"
#include "ups_lib/platform/message_loop.h"
#include "ups_lib/platform/unique_fd.h"
#include "usb_link.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A query's answer comes within a few character times; a command is usually not answered at all.
constexpr auto kQueryWait = 1000ms;
constexpr auto kCommandWait = 300ms;
// The agent waits for the whole request, answer included, so ours must come well before that.
constexpr auto kAnswerSendLimit = 2000ms;

// The shut-down command: whole minutes from one minute up, tenths of a minute below (".5" is
// thirty seconds); a delay that rounds to a whole minute is sent as one minute, never as ".0".
std::optional<std::string> ShutdownCommand(int delaySeconds, int restoreMinutes) {
    if (delaySeconds < torvane::kMinShutdownDelay || delaySeconds > torvane::kMaxShutdownDelay ||
        restoreMinutes < 0 || restoreMinutes > torvane::kMaxRestoreMinutes) {
        return std::nullopt;
    }
    char text[32];
    int tenths = (delaySeconds * 10 + 30) / 60;
    if (delaySeconds < 60 && tenths < 10) {
        std::snprintf(text, sizeof text, "S.%d", tenths);
    } else {
        std::snprintf(text, sizeof text, "S%02d", delaySeconds < 60 ? 1 : delaySeconds / 60);
    }
    std::string command = text;
    if (restoreMinutes > 0) {
        std::snprintf(text, sizeof text, "R%04d", restoreMinutes);
        command += text;
    }
    return command + "\r";
}

// The Q1 command of a request; nothing for values the UPS would not take.
std::optional<std::string> CommandFor(const torvane::UsbRequest& r) {
    switch (r.code) {
        case torvane::kUsbStatus:
            return std::string(torvane::q1::kStatusQuery);
        case torvane::kUsbRating:
            return std::string("F\r");
        case torvane::kUsbBasicInfo:
            return std::string("I\r");
        case torvane::kUsbSelfTest:
            if (r.first == -1) return std::string("T\r");
            if (r.first == -2) return std::string("TL\r");
            if (r.first >= 1 && r.first <= torvane::kMaxTestMinutes) {
                char text[8];
                std::snprintf(text, sizeof text, "T%02d\r", r.first);
                return std::string(text);
            }
            return std::nullopt;
        case torvane::kUsbToggleBeeper:
            return std::string("Q\r");
        case torvane::kUsbCancelTest:
            return std::string("CT\r");
        case torvane::kUsbShutdown:
            return ShutdownCommand(r.first, r.second);
        default:
            return std::nullopt;
    }
}

bool IsQuery(int code) {
    return code == torvane::kUsbStatus || code == torvane::kUsbRating ||
           code == torvane::kUsbBasicInfo;
}

// The UPS on its adapter: opened when first needed and again after the adapter went away.
class SerialUps {
  public:
    explicit SerialUps(std::string path) : path_(std::move(path)) {}

    // The reply line (with its carriage return), or nothing when none came within `wait`.
    std::optional<std::string> Transact(const std::string& command, Clock::duration wait) {
        if (!fd_ && !Open()) return std::nullopt;
        // Whatever came in since the last exchange is stale (a late answer, line noise).
        tcflush(fd_.get(), TCIFLUSH);
        auto deadline = Clock::now() + wait;
        if (!WriteAll(command, deadline)) return std::nullopt;
        std::string line;
        while (true) {
            if (!WaitFor(POLLIN, deadline)) return std::nullopt;
            char buffer[64];
            ssize_t n = read(fd_.get(), buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) {
                Lost();
                return std::nullopt;
            }
            for (ssize_t i = 0; i < n; ++i) {
                line += buffer[i];
                if (buffer[i] == '\r') return line;
                // Longer than any Q1 reply: this is not one.
                if (line.size() >= torvane::q1::kReplyBufferSize) return std::nullopt;
            }
        }
    }

  private:
    bool Open() {
        fd_ = ups::platform::UniqueFd(
            open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!fd_) return Report("cannot open");
        termios t{};
        if (tcgetattr(fd_.get(), &t) != 0) {
            Lost();
            return Report("not a serial port");
        }
        cfmakeraw(&t);
        // 2400 baud 8N1, no flow control of either kind: the UPS drives no handshake lines.
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, B2400);
        cfsetospeed(&t, B2400);
        if (tcsetattr(fd_.get(), TCSANOW, &t) != 0) {
            Lost();
            return Report("cannot set up");
        }
        reported_ = false;
        return true;
    }

    // Said once per outage, not on every poll.
    bool Report(const char* what) {
        if (!reported_) std::fprintf(stderr, "Lonavex: %s %s\n", what, path_.c_str());
        reported_ = true;
        return false;
    }

    void Lost() { fd_.Close(); }

    bool WaitFor(short events, Clock::time_point deadline) {
        while (true) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_.get(), events, 0};
            int rc = poll(&p, 1, static_cast<int>(left.count()));
            if (rc > 0) {
                if ((p.revents & (POLLERR | POLLNVAL)) != 0 ||
                    ((p.revents & POLLHUP) != 0 && (p.revents & POLLIN) == 0)) {
                    Lost();
                    return false;
                }
                return true;
            }
            if (rc < 0 && errno != EINTR) return false;
        }
    }

    bool WriteAll(const std::string& text, Clock::time_point deadline) {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(fd_.get(), text.data() + done, text.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (!WaitFor(POLLOUT, deadline)) return false;
            } else {
                Lost();
                return false;
            }
        }
        return true;
    }

    std::string path_;
    ups::platform::UniqueFd fd_;
    bool reported_ = false;
};

class HelperWindow final : public platform::Window {
  public:
    HelperWindow(std::string device, platform::Event& quit)
        : ups_(std::move(device)), quit_(quit) {}

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t lparam) override {
        if (msg != platform::kWmCopyData || lparam == 0) return 0;
        const auto& m = *reinterpret_cast<const platform::CopyDataMessage*>(lparam);
        if (m.identifier == torvane::kUsbQuit) {
            quit_.Set();
            return 1;
        }
        auto request = torvane::ParseUsbRequest(m.identifier, m.data);
        if (!request) return 0;
        auto command = CommandFor(*request);
        if (!command) return 0;
        bool query = IsQuery(request->code);
        auto line = ups_.Transact(*command, query ? kQueryWait : kCommandWait);
        if (m.sender.empty()) return 1;
        if (line) {
            *line += '\0';
            platform::SendCopyData(m.sender, torvane::kUsbReplyLine, *line,
                                   torvane::kUsbHelperCaption, kAnswerSendLimit);
        } else if (query) {
            // A command the UPS takes in silence is no missed answer.
            platform::SendCopyData(m.sender, torvane::kUsbNoAnswer, {}, torvane::kUsbHelperCaption,
                                   kAnswerSendLimit);
        }
        return 1;
    }

  private:
    SerialUps ups_;
    platform::Event& quit_;
};

}  // namespace

int main() {
    // Taken by the wait below, on this thread only; the window and endpoint threads inherit the
    // mask.
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, sig);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const char* configured = std::getenv("TORVANE_USB_DEVICE");
    std::string device = configured != nullptr && *configured != '\0' ? configured : "/dev/ttyUSB0";

    platform::Event quit(platform::Event::Mode::kManualReset);
    platform::WindowThread thread;
    auto window = thread.Create<HelperWindow>(device, quit);
    std::string error;
    auto endpoint =
        platform::CopyDataEndpoint::Open(torvane::kUsbHelperCaption, window->handle(), &error);
    if (!endpoint) {
        std::fprintf(stderr, "Lonavex: %s\n", error.c_str());
        return 1;
    }
    const timespec slice{0, 200 * 1000 * 1000};
    while (!quit.Wait(0ms)) {
        int sig = sigtimedwait(&stops, nullptr, &slice);
        if (sig == SIGTERM || sig == SIGINT) break;
    }
    // The endpoint first: it may be waiting for the window.
    endpoint.reset();
    window.reset();
    return 0;
}
