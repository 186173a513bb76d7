// The pager alert: every page runs on a thread of its own and talks to a modem on a COM port:
// "ate0\r", then "ATDT<number>,,,,<code>\r", and the modem is left time to dial and send the
// code after the pauses of the commas. Nothing is read back; a page succeeds when the modem
// took both commands. One page at a time may use the modem.
//
// Every wait of a page is bounded (the modem lock, each write, the pauses), so that the frame,
// which holds the shutdown of a battery-low alert until its page is out, waits a bounded time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "email_alert.h"
#include "ups_lib/config.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/platform/events.h"

namespace torvane {

// What one page of a kind needs; the frame takes it from its records when it starts the page.
struct PagerSettings {
    std::string number;
    std::string code;
    int portIndex = 1;  // 0 for COM1 up to 8 for COM9
};
PagerSettings PagerSettingsFor(const ups::CConfig& config, const ups::CMsgTab& msgTab, int kind);

// "COM1".."COM9" for port index 0..8; empty for any other index.
std::string PagerPortName(int portIndex);
// The device behind a port name: on Windows the COM port itself; elsewhere the path in
// TORVANE_COM<n>, or /dev/ttyS<n-1> without it.
std::string ComPortDevice(std::string_view portName);

// An open modem port; closed when destroyed.
class ModemPort {
  public:
    virtual ~ModemPort() = default;
    // Writes all of `data` within `timeout`.
    virtual bool Write(std::string_view data, std::chrono::milliseconds timeout) = 0;
};
// Opens the port of a name such as "COM2", or gives nullptr.
using ModemOpener = std::function<std::unique_ptr<ModemPort>(const std::string& portName)>;
// The serial port of ComPortDevice(name) at 2400 baud, 8 data bits, no parity, one stop bit.
std::unique_ptr<ModemPort> OpenSerialModem(const std::string& portName);

// One page as the frame sees it.
class PageHandle {
  public:
    PageHandle() : done_(platform::Event::Mode::kManualReset) {}
    // True when the page has ended within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout) { return done_.Wait(timeout); }
    // Whether the modem took both commands; meaningful once WaitFor has returned true.
    bool Succeeded() const { return succeeded_; }

  private:
    friend class CPagerAlerts;
    platform::Event done_;
    bool succeeded_ = false;  // written before done_ is set
};

class CPagerAlerts {
  public:
    struct Options {
        std::chrono::milliseconds beforeReset = std::chrono::milliseconds(1000);
        std::chrono::milliseconds beforeDial = std::chrono::milliseconds(2000);
        std::chrono::milliseconds whileDialling = std::chrono::milliseconds(20000);
        // A page gives up when the modem stays busy with others this long.
        std::chrono::milliseconds modemBusyLimit = std::chrono::seconds(30);
        std::chrono::milliseconds writeTimeout = std::chrono::seconds(2);
        ModemOpener openModem = OpenSerialModem;
    };
    // The longest a page can take with the default options; the frame's wait for a
    // battery-low page need not be longer.
    static constexpr std::chrono::seconds kLongestPage{60};

    explicit CPagerAlerts(AlertLog& log) : CPagerAlerts(log, Options{}) {}
    CPagerAlerts(AlertLog& log, Options options);
    // Cuts the pages still running short (each logs its failure) and waits for their threads.
    ~CPagerAlerts();
    CPagerAlerts(const CPagerAlerts&) = delete;
    CPagerAlerts& operator=(const CPagerAlerts&) = delete;

    // Starts one page of alert `kind` on a thread of its own.
    std::shared_ptr<PageHandle> PagerThread(int kind, PagerSettings settings);

  private:
    bool Page(int kind, const PagerSettings& settings);
    std::string Send(ModemPort& modem, const PagerSettings& settings);
    bool AcquireModem();
    void ReleaseModem();
    void ReapFinished();

    AlertLog& log_;
    Options options_;
    platform::Event stopping_;  // manual reset: set once, when the pages are to end

    std::mutex modemMutex_;
    std::condition_variable modemFree_;
    bool modemBusy_ = false;
    bool stopRequested_ = false;  // under modemMutex_, so that a page waiting for the modem wakes

    struct Running {
        std::shared_ptr<PageHandle> handle;
        std::thread thread;
    };
    std::mutex threadsMutex_;
    std::vector<Running> threads_;
};

}  // namespace torvane
