// Lonavex: the agent's way to a USB UPS. It owns the "Stavlen USB" copy-data window, turns each
// request of the agent into the UPS's Q1 command on a USB-serial adapter ($TORVANE_USB_DEVICE,
// default /dev/ttyUSB0) and sends the reply line back to the endpoint the request came from
// (identifier 10), or identifier 20 when the UPS did not answer a query (on Windows the adapter's
// COM port, by default COM3). Request 50, SIGTERM or SIGINT (Ctrl-C on Windows) end it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "q1_dialect.h"
#include "serial_port.h"
#include "stop_request.h"
#include "ups_commands.h"
#include "ups_lib/platform/copy_data.h"
#include "ups_lib/platform/events.h"
#include "ups_lib/platform/message_loop.h"
#include "usb_link.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A query's answer comes within a few character times; a command is usually not answered at all.
constexpr auto kQueryWait = 1000ms;
constexpr auto kCommandWait = 300ms;
// The agent waits for the whole request, answer included, so ours must come well before that.
constexpr auto kAnswerSendLimit = 2000ms;
// Where a USB-serial adapter usually shows up when $TORVANE_USB_DEVICE does not say.
#ifdef _WIN32
constexpr const char* kDefaultDevice = "\\\\.\\COM3";
#else
constexpr const char* kDefaultDevice = "/dev/ttyUSB0";
#endif

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
        if (!port_ && !Open()) return std::nullopt;
        // Whatever came in since the last exchange is stale (a late answer, line noise).
        port_->Flush(true, false);
        const auto deadline = Clock::now() + wait;
        if (!port_->Write(command.data(), command.size())) {
            port_.reset();
            return std::nullopt;
        }
        std::string line;
        while (true) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            if (!port_->WaitReadable(left)) continue;
            char buffer[64];
            const int n = port_->ReadSome(buffer, sizeof buffer);
            if (n <= 0) {
                port_.reset();  // readable with nothing to read: the adapter went away
                return std::nullopt;
            }
            for (int i = 0; i < n; ++i) {
                line += buffer[i];
                if (buffer[i] == '\r') return line;
                // Longer than any Q1 reply: this is not one.
                if (line.size() >= torvane::q1::kReplyBufferSize) return std::nullopt;
            }
        }
    }

  private:
    // 2400 baud 8N1, no flow control of either kind: the UPS drives no handshake lines.
    bool Open() {
        auto failure = torvane::SerialPort::Failure::kNone;
        int code = 0;
        port_ = torvane::SerialPort::Open(path_, 2400, failure, code);
        if (!port_) {
            // Said once per outage, not on every poll.
            if (!reported_) {
                std::fprintf(stderr, "Lonavex: %s %s (error %d)\n",
                             failure == torvane::SerialPort::Failure::kOpen ? "cannot open"
                                                                            : "cannot set up",
                             path_.c_str(), code);
            }
            reported_ = true;
            return false;
        }
        reported_ = false;
        return true;
    }

    std::string path_;
    std::unique_ptr<torvane::SerialPort> port_;
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
    torvane::PrepareProcess();
    const char* configured = std::getenv("TORVANE_USB_DEVICE");
    std::string device = configured != nullptr && *configured != '\0' ? configured : kDefaultDevice;

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
    torvane::WaitForStopRequest(&quit);
    // The endpoint first: it may be waiting for the window.
    endpoint.reset();
    window.reset();
    return 0;
}
