#include "pager_alert.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "alert_test_support.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/log_records.h"

namespace torvane {
namespace {

using test::RecordingLog;
using test::TraceRecorder;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Pair;
using namespace std::chrono_literals;

constexpr std::uint16_t kError = ups::CEventLogRecord::kError;
constexpr std::uint16_t kInfo = ups::CEventLogRecord::kInformation;

// A "modem" on a pseudo-terminal that records everything the agent writes to it. The slave
// stays open here too, so the master never sees the agent's close as an error.
class PtyModem {
  public:
    explicit PtyModem(bool reading = true) {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        path_ = ::ttyname(slave_);
        if (reading) reader_ = std::thread([this] { Read(); });
    }
    ~PtyModem() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    const std::string& Path() const { return path_; }
    std::string Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // What has come once there are at least `bytes`, or after a few seconds: the page may end
    // before this side has read the last command.
    std::string Received(std::size_t bytes) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(5), [&] { return received_.size() >= bytes; });
        return received_;
    }

  private:
    void Read() {
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) continue;
            std::lock_guard lock(mutex_);
            received_.append(buffer, static_cast<std::size_t>(n));
            arrived_.notify_all();
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string received_;
};

// Points a COM port name at a device for the life of the object.
class ComPortEnv {
  public:
    ComPortEnv(const std::string& port, const std::string& device) : name_("TORVANE_" + port) {
        ::setenv(name_.c_str(), device.c_str(), 1);
    }
    ~ComPortEnv() { ::unsetenv(name_.c_str()); }

  private:
    std::string name_;
};

CPagerAlerts::Options Quick() {
    CPagerAlerts::Options o;
    o.beforeReset = 10ms;
    o.beforeDial = 20ms;
    o.whileDialling = 50ms;
    o.modemBusyLimit = 5s;
    return o;
}

PagerSettings Settings(std::string number, std::string code, int port = 1) {
    return {std::move(number), std::move(code), port};
}

TEST(PagerPorts, NamesAndDevices) {
    EXPECT_EQ(PagerPortName(0), "COM1");
    EXPECT_EQ(PagerPortName(1), "COM2");
    EXPECT_EQ(PagerPortName(8), "COM9");
    EXPECT_EQ(PagerPortName(9), "");
    EXPECT_EQ(PagerPortName(-1), "");
    ComPortEnv env("COM4", "/tmp/modem4");
    EXPECT_EQ(ComPortDevice("COM4"), "/tmp/modem4");
    ::unsetenv("TORVANE_COM5");
    EXPECT_EQ(ComPortDevice("COM5"), "/dev/ttyS4");
    EXPECT_EQ(ComPortDevice("LPT1"), "");
}

class PagerModem : public ::testing::Test {
  protected:
    PtyModem modem;
    ComPortEnv env{"COM2", modem.Path()};
    RecordingLog log;
    TraceRecorder trace;
};

TEST_F(PagerModem, DialsTheNumberAndCodeOfTheAlertKind) {
    ASSERT_FALSE(modem.Path().empty());
    ups::CConfig config;  // the modem on COM2 by default
    ups::CMsgTab msgTab;
    msgTab.number[0] = "5551234";
    msgTab.code[0] = "911";
    CPagerAlerts pagers(log, Quick());
    const auto page = pagers.PagerThread(0, PagerSettingsFor(config, msgTab, 0));
    ASSERT_TRUE(page->WaitFor(10s));
    EXPECT_TRUE(page->Succeeded());
    const std::string expected = "ate0\rATDT5551234,,,,911\r";
    EXPECT_EQ(modem.Received(expected.size()), expected);
    EXPECT_THAT(log.Entries(), ElementsAre(Pair(ups::kEvPagerSent, kInfo)));
    EXPECT_THAT(trace.Lines(), Contains("Pager success, nWhatHappened = 0, str=COM2\n"));
}

TEST_F(PagerModem, KindWithoutNumberOrCodeFailsWithoutTouchingTheModem) {
    ups::CConfig config;
    ups::CMsgTab msgTab;
    msgTab.number[0] = "5551234";
    msgTab.code[0] = "911";
    msgTab.number[2] = "5551234";  // a number without a code
    CPagerAlerts pagers(log, Quick());
    for (int kind : {ups::kBatteryLow, ups::kUtilityRestored}) {
        const auto page = pagers.PagerThread(kind, PagerSettingsFor(config, msgTab, kind));
        ASSERT_TRUE(page->WaitFor(10s));
        EXPECT_FALSE(page->Succeeded());
    }
    EXPECT_THAT(log.Entries(),
                ElementsAre(Pair(ups::kEvPagerFailed, kError), Pair(ups::kEvPagerFailed, kError)));
    EXPECT_THAT(trace.Lines(), Contains("Pager error: no pager num or code\n"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(modem.Received(), "");
}

TEST_F(PagerModem, PortThatCannotOpenFailsAndLeavesTheModemFree) {
    ComPortEnv missing("COM3", "/nonexistent/modem");
    auto options = Quick();
    options.modemBusyLimit = 500ms;  // a lock left held would make the last page fail
    CPagerAlerts pagers(log, options);
    for (int port : {2, 9}) {
        const auto page = pagers.PagerThread(0, Settings("1", "2", port));
        ASSERT_TRUE(page->WaitFor(10s));
        EXPECT_FALSE(page->Succeeded());
    }
    EXPECT_THAT(trace.Lines(), Contains("Pager error: can't open pager port\n"));
    const auto page = pagers.PagerThread(0, Settings("1", "2"));
    ASSERT_TRUE(page->WaitFor(10s));
    EXPECT_TRUE(page->Succeeded());
    EXPECT_THAT(log.Entries(),
                ElementsAre(Pair(ups::kEvPagerFailed, kError), Pair(ups::kEvPagerFailed, kError),
                            Pair(ups::kEvPagerSent, kInfo)));
    const std::string expected = "ate0\rATDT1,,,,2\r";
    EXPECT_EQ(modem.Received(expected.size()), expected);
}

TEST_F(PagerModem, PagesThatRunTogetherTakeTheModemInTurn) {
    CPagerAlerts pagers(log, Quick());
    const auto first = pagers.PagerThread(0, Settings("111", "1"));
    const auto second = pagers.PagerThread(1, Settings("222", "2"));
    ASSERT_TRUE(first->WaitFor(10s));
    ASSERT_TRUE(second->WaitFor(10s));
    EXPECT_TRUE(first->Succeeded());
    EXPECT_TRUE(second->Succeeded());
    const std::string a = "ate0\rATDT111,,,,1\r";
    const std::string b = "ate0\rATDT222,,,,2\r";
    const std::string got = modem.Received(a.size() + b.size());
    EXPECT_TRUE(got == a + b || got == b + a) << got;
}

// A modem port of the test's own, to make writes fail or a page hold the modem.
struct FakeModems {
    std::mutex mutex;
    int failWrite = 0;  // 1: the first write of a page fails, 2: the second
    int open = 0, mostOpen = 0, opened = 0;
    std::string written;

    class Port final : public ModemPort {
      public:
        Port(FakeModems& f) : f_(f) {}
        ~Port() override {
            std::lock_guard lock(f_.mutex);
            --f_.open;
        }
        bool Write(std::string_view data, std::chrono::milliseconds) override {
            std::lock_guard lock(f_.mutex);
            ++writes_;
            if (writes_ == f_.failWrite) return false;
            f_.written.append(data);
            return true;
        }

      private:
        FakeModems& f_;
        int writes_ = 0;
    };

    ModemOpener Opener() {
        return [this](const std::string&) -> std::unique_ptr<ModemPort> {
            std::lock_guard lock(mutex);
            ++opened;
            mostOpen = std::max(mostOpen, ++open);
            return std::make_unique<Port>(*this);
        };
    }
    int Opened() {
        std::lock_guard lock(mutex);
        return opened;
    }
};

TEST(PagerFailures, FailedWriteLogsAndFreesTheModem) {
    TraceRecorder trace;
    RecordingLog log;
    FakeModems modems;
    auto options = Quick();
    options.openModem = modems.Opener();
    options.modemBusyLimit = 500ms;
    CPagerAlerts pagers(log, options);
    for (int fail : {1, 2, 0}) {
        modems.failWrite = fail;
        const auto page = pagers.PagerThread(0, Settings("42", "7"));
        ASSERT_TRUE(page->WaitFor(10s));
        EXPECT_EQ(page->Succeeded(), fail == 0);
    }
    EXPECT_THAT(log.Entries(),
                ElementsAre(Pair(ups::kEvPagerFailed, kError), Pair(ups::kEvPagerFailed, kError),
                            Pair(ups::kEvPagerSent, kInfo)));
    const auto lines = trace.Lines();
    EXPECT_THAT(lines, Contains("Pager error: write ate1\\r\\n fail\n"));
    EXPECT_THAT(lines, Contains("Pager error: write pager num and code fail\n"));
    EXPECT_EQ(modems.written,
              "ate0\r"
              "ate0\rATDT42,,,,7\r");
    EXPECT_EQ(modems.mostOpen, 1);
    EXPECT_EQ(modems.open, 0);
}

TEST(PagerBounds, BusyModemIsGivenUpAndStoppingCutsAPageShort) {
    TraceRecorder trace;
    RecordingLog log;
    FakeModems modems;
    auto options = Quick();
    options.openModem = modems.Opener();
    options.whileDialling = 60s;
    options.modemBusyLimit = 200ms;
    std::shared_ptr<PageHandle> first;
    auto start = std::chrono::steady_clock::now();
    {
        CPagerAlerts pagers(log, options);
        first = pagers.PagerThread(1, Settings("42", "7"));
        while (modems.Opened() == 0) std::this_thread::sleep_for(5ms);
        const auto second = pagers.PagerThread(0, Settings("43", "8"));
        ASSERT_TRUE(second->WaitFor(10s));
        EXPECT_FALSE(second->Succeeded());
        EXPECT_FALSE(first->WaitFor(50ms));
        start = std::chrono::steady_clock::now();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_TRUE(first->WaitFor(0ms));
    EXPECT_FALSE(first->Succeeded());
    EXPECT_THAT(log.Entries(),
                ElementsAre(Pair(ups::kEvPagerFailed, kError), Pair(ups::kEvPagerFailed, kError)));
    EXPECT_THAT(trace.Lines(), Contains("Pager error: modem busy\n"));
    EXPECT_THAT(trace.Lines(), Contains("Pager error: stopped while the modem dialled\n"));
    EXPECT_EQ(modems.Opened(), 1);
}

TEST(SerialModem, WriteThatCannotDrainEndsAtItsTimeout) {
    PtyModem modem(false);  // nobody reads: the terminal's buffer fills and writes stall
    ComPortEnv env("COM2", modem.Path());
    auto port = OpenSerialModem("COM2");
    ASSERT_NE(port, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port->Write(std::string(1 << 20, 'x'), 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

}  // namespace
}  // namespace torvane
