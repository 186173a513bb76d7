#include "pager_alert.h"

#include "rs232.h"

#include <cstdlib>
#include <utility>

#include <asio.hpp>

#include "ups_lib/event_texts.h"
#include "ups_lib/log_records.h"
#include "ups_lib/trace.h"

namespace torvane {

PagerSettings PagerSettingsFor(const ups::CConfig& config, const ups::CMsgTab& msgTab, int kind) {
    if (kind < 0 || kind >= ups::kNotifyKinds) return {{}, {}, config.pagerPort};
    const auto k = static_cast<std::size_t>(kind);
    return {msgTab.number[k], msgTab.code[k], config.pagerPort};
}

std::string PagerPortName(int portIndex) {
    return ComPortName(portIndex);
}

std::string ComPortDevice(std::string_view portName) {
#ifdef _WIN32
    return "\\\\.\\" + std::string(portName);
#else
    // The modem's COMn names the same device as the UPS's COMn would.
    for (int index = 0; index <= 8; ++index) {
        if (ComPortName(index) == portName) return ComPortPath(index);
    }
    return {};
#endif
}

namespace {

class SerialModem final : public ModemPort {
  public:
    bool Open(const std::string& device) {
        asio::error_code ec;
        port_.open(device, ec);
        if (ec) return false;
        using P = asio::serial_port;
        port_.set_option(P::baud_rate(2400), ec);
        if (!ec) port_.set_option(P::character_size(8), ec);
        if (!ec) port_.set_option(P::parity(P::parity::none), ec);
        if (!ec) port_.set_option(P::stop_bits(P::stop_bits::one), ec);
        if (!ec) port_.set_option(P::flow_control(P::flow_control::none), ec);
        return !ec;
    }

    bool Write(std::string_view data, std::chrono::milliseconds timeout) override {
        bool done = false;
        asio::error_code result;
        asio::async_write(port_, asio::buffer(data.data(), data.size()),
                          [&](const asio::error_code& ec, std::size_t) {
                              result = ec;
                              done = true;
                          });
        context_.restart();
        context_.run_for(timeout);
        if (!done) {
            // A modem that holds its flow control shut must not hold the page: cancelling
            // completes the write as aborted, and we wait for that before `done` goes away.
            asio::error_code ignored;
            port_.cancel(ignored);
            context_.restart();
            context_.run();
            return false;
        }
        return !result;
    }

  private:
    asio::io_context context_;
    asio::serial_port port_{context_};
};

}  // namespace

std::unique_ptr<ModemPort> OpenSerialModem(const std::string& portName) {
    const std::string device = ComPortDevice(portName);
    if (device.empty()) return nullptr;
    auto modem = std::make_unique<SerialModem>();
    if (!modem->Open(device)) return nullptr;
    return modem;
}

CPagerAlerts::CPagerAlerts(AlertLog& log, Options options)
    : log_(log), options_(std::move(options)), stopping_(platform::Event::Mode::kManualReset) {}

CPagerAlerts::~CPagerAlerts() {
    {
        std::lock_guard lock(modemMutex_);
        stopRequested_ = true;
    }
    modemFree_.notify_all();
    stopping_.Set();
    std::lock_guard lock(threadsMutex_);
    for (Running& running : threads_) running.thread.join();
}

std::shared_ptr<PageHandle> CPagerAlerts::PagerThread(int kind, PagerSettings settings) {
    auto handle = std::make_shared<PageHandle>();
    std::lock_guard lock(threadsMutex_);
    ReapFinished();
    std::thread thread([this, handle, kind, settings = std::move(settings)] {
        handle->succeeded_ = Page(kind, settings);
        handle->done_.Set();
    });
    threads_.push_back({handle, std::move(thread)});
    return handle;
}

void CPagerAlerts::ReapFinished() {
    for (auto it = threads_.begin(); it != threads_.end();) {
        if (it->handle->WaitFor(std::chrono::milliseconds(0))) {
            it->thread.join();
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
}

bool CPagerAlerts::AcquireModem() {
    std::unique_lock lock(modemMutex_);
    const bool free = modemFree_.wait_for(lock, options_.modemBusyLimit,
                                          [this] { return !modemBusy_ || stopRequested_; });
    if (!free || stopRequested_) return false;
    modemBusy_ = true;
    return true;
}

void CPagerAlerts::ReleaseModem() {
    {
        std::lock_guard lock(modemMutex_);
        modemBusy_ = false;
    }
    modemFree_.notify_one();
}

bool CPagerAlerts::Page(int kind, const PagerSettings& settings) {
    const std::string portName = PagerPortName(settings.portIndex);
    if (settings.number.empty() || settings.code.empty()) {
        log_.LogEvent(ups::kEvPagerFailed, ups::CEventLogRecord::kError);
        ups::Trace("Pager error: no pager num or code\n");
        return false;
    }
    if (!AcquireModem()) {
        log_.LogEvent(ups::kEvPagerFailed, ups::CEventLogRecord::kError);
        ups::Trace("Pager error: modem busy\n");
        return false;
    }
    std::unique_ptr<ModemPort> modem;
    if (!portName.empty()) modem = options_.openModem(portName);
    if (!modem) {
        log_.LogEvent(ups::kEvPagerFailed, ups::CEventLogRecord::kError);
        ReleaseModem();
        ups::Trace("Pager error: can't open pager port\n");
        return false;
    }
    const std::string failure = Send(*modem, settings);
    modem.reset();
    ReleaseModem();
    if (!failure.empty()) {
        log_.LogEvent(ups::kEvPagerFailed, ups::CEventLogRecord::kError);
        ups::Trace(failure);
        return false;
    }
    log_.LogEvent(ups::kEvPagerSent, ups::CEventLogRecord::kInformation);
    ups::Trace("Pager success, nWhatHappened = " + std::to_string(kind) + ", str=" + portName +
               "\n");
    return true;
}

// Writes the two commands and gives the modem its time: "" when the page went out, else the
// trace line of the failure. The caller closes the port, leaves the modem to the next page and
// logs the result.
std::string CPagerAlerts::Send(ModemPort& modem, const PagerSettings& settings) {
    if (stopping_.Wait(options_.beforeReset)) return "Pager error: stopped before the call\n";
    if (!modem.Write("ate0\r", options_.writeTimeout))
        return "Pager error: write ate1\\r\\n fail\n";
    if (stopping_.Wait(options_.beforeDial)) return "Pager error: stopped before the call\n";
    if (!modem.Write("ATDT" + settings.number + ",,,," + settings.code + "\r",
                     options_.writeTimeout))
        return "Pager error: write pager num and code fail\n";
    // Closing the port hangs the modem up, so a page cut short here has not gone out.
    if (stopping_.Wait(options_.whileDialling))
        return "Pager error: stopped while the modem dialled\n";
    return {};
}

}  // namespace torvane
