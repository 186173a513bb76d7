// The UPS object on its own thread, driven by its timer, against the demo link and against a
// UPS on a pseudo-terminal: what it posts to its owner and what it sends.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "demo_comm.h"
#include "frame_reactions.h"
#include "rs232.h"
#include "ups.h"
#include "ups_lib/platform/message_loop.h"
#include "ups_lib/platform/registry.h"

namespace {

using namespace std::chrono_literals;
using namespace torvane;

constexpr const char* kBasic = "#Stavlen         SIM-1000   1.0       ";
constexpr const char* kRating = "#230.0 004 24.00 50.0";
constexpr const char* kStatusOk = "(230.0 230.0 230.0 021 50.0 2.25 25.0 00001000";
constexpr const char* kStatusAcFail = "(000.0 230.0 230.0 021 50.0 2.10 25.0 10001000";

// The main frame as the UPS object sees it: a window that keeps every notification.
class Owner final : public platform::Window {
  public:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::pair<int, std::int64_t>> got;  // code, value
    };
    explicit Owner(Shared& shared) : shared_(shared) {}

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t w, std::intptr_t l) override {
        if (msg == kWmUpsNotify) {
            std::lock_guard lock(shared_.mutex);
            shared_.got.emplace_back(static_cast<int>(l), static_cast<std::int64_t>(w));
            shared_.changed.notify_all();
        }
        return 0;
    }

  private:
    Shared& shared_;
};

class UpsObject : public ::testing::Test {
  protected:
    void SetUp() override { owner_ = frame_.Create<Owner>(shared_); }

    // Waits until `code` was posted `times` times; every code so far.
    std::vector<int> WaitFor(int code, int times = 1, std::chrono::seconds limit = 15s) {
        std::unique_lock lock(shared_.mutex);
        shared_.changed.wait_for(lock, limit, [&] {
            return std::count_if(shared_.got.begin(), shared_.got.end(),
                                 [&](auto& p) { return p.first == code; }) >= times;
        });
        std::vector<int> codes;
        for (auto& p : shared_.got) codes.push_back(p.first);
        return codes;
    }
    std::int64_t ValueOf(int code) {
        std::lock_guard lock(shared_.mutex);
        for (auto& p : shared_.got) {
            if (p.first == code) return p.second;
        }
        return -1;
    }

    Owner::Shared shared_;
    platform::WindowThread frame_;
    platform::WindowPtr<Owner> owner_;
};

std::filesystem::path DemoFile(const std::vector<std::string>& entries) {
    auto path =
        std::filesystem::temp_directory_path() / ("demo-" + std::to_string(getpid()) + ".txt");
    std::ofstream out(path);
    for (int i = 1; i <= 9; ++i) out << "header " << i << "\n";
    out << entries.at(0) << "\n"
        << "skipped\n";
    for (std::size_t i = 1; i < entries.size(); ++i) out << entries[i] << "\n";
    return path;
}

int IndexOf(const std::vector<int>& codes, int code) {
    auto it = std::find(codes.begin(), codes.end(), code);
    return it == codes.end() ? -1 : static_cast<int>(it - codes.begin());
}

TEST_F(UpsObject, TheDemoLinkConnectsAndEveryReplyIsParsedAndPosted) {
    auto file = DemoFile({kBasic, kRating, kStatusOk});
    CDemoComm demo;  // outlives the UPS object
    CUPS ups;
    ASSERT_TRUE(demo.Open(file.string()));
    ups.Start(owner_->handle(), 50ms);
    ups.AttachLink(&demo);

    WaitFor(kNotifyRatingInfo);
    auto codes = WaitFor(kNotifyStandby);
    ASSERT_GE(IndexOf(codes, kNotifyConnected), 0);
    EXPECT_LT(IndexOf(codes, kNotifyConnected), IndexOf(codes, kNotifyStatus));
    EXPECT_EQ(IndexOf(codes, kNotifyStatus) + 1, IndexOf(codes, kNotifyStandby))
        << "the new status first, then what changed";
    EXPECT_LT(IndexOf(codes, kNotifyBasicReply), IndexOf(codes, kNotifyBasicInfo));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kNotifyStandby), 1) << "first status only";

    EXPECT_TRUE(ups.IsConnected());
    auto status = ups.Status();
    EXPECT_EQ(status.inputVoltage, 2300);
    EXPECT_EQ(status.batteryVoltage, 225);
    EXPECT_EQ(status.status, 0x08);
    EXPECT_EQ(ups.BasicInfo().model, "SIM-1000  ");
    EXPECT_EQ(ups.RatingInfo().batteryVoltage, 2400);
    EXPECT_TRUE(ups.IsStandby());
    EXPECT_FALSE(ups.IsACFail());
    std::filesystem::remove(file);
}

TEST_F(UpsObject, AUtilityFailureStartsTheCountdownWithTheConfiguredDelay) {
    auto file = DemoFile({kBasic, kRating, kStatusAcFail});
    CDemoComm demo;
    CUPS ups([] { return std::int64_t{1'700'000'000}; });  // no second passes
    ups.SetDelays(2, 1, 30);
    ASSERT_TRUE(demo.Open(file.string()));
    ups.Start(owner_->handle(), 50ms);
    ups.AttachLink(&demo);
    auto codes = WaitFor(kNotifyCountdownStart);
    EXPECT_LT(IndexOf(codes, kNotifyAcFail), IndexOf(codes, kNotifyCountdownStart));
    EXPECT_EQ(ValueOf(kNotifyCountdownStart), 120);
    EXPECT_TRUE(ups.IsACFail());
    std::filesystem::remove(file);
}

// A UPS on a pseudo-terminal: answers Q1 with a status line (the one it is told to give) and
// keeps every command it receives.
class PtyUps {
  public:
    PtyUps() {
        char name[128];
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    ~PtyUps() {
        thread_.request_stop();
        thread_.join();
        ::close(master_);
        ::close(slave_);
    }
    const std::string& path() const { return path_; }
    void SetStatus(std::string s) {
        std::lock_guard lock(mutex_);
        status_ = std::move(s);
    }
    void SetSilent(bool silent) { silent_ = silent; }
    std::vector<std::string> Commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    bool WaitForCommand(const std::string& command, std::chrono::seconds limit = 15s) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            auto all = Commands();
            if (std::find(all.begin(), all.end(), command) != all.end()) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

  private:
    void Run(const std::stop_token& stop) {
        std::string line;
        while (!stop.stop_requested()) {
            char c = 0;
            if (::read(master_, &c, 1) != 1) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            line += c;
            if (c != '\r') continue;
            std::string reply;
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
                if (line == "Q1\r") reply = status_ + "\r";
            }
            line.clear();
            if (!silent_ && !reply.empty()) (void)!::write(master_, reply.data(), reply.size());
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::mutex mutex_;
    std::string status_ = kStatusOk;
    std::vector<std::string> commands_;
    std::atomic<bool> silent_{false};
    std::jthread thread_;
};

TEST_F(UpsObject, CommandsGoOutOnTheTickAndASilentUpsIsDisconnectedAfterItsTolerance) {
    PtyUps device;
    setenv("TORVANE_COM1", device.path().c_str(), 1);
    CRS232 serial;
    CDemoComm demo;
    CUPS ups;
    ups::CConfig config;
    config.upsType = ups::CConfig::kStavlen;
    config.comPort = 0;
    ups.Start(owner_->handle(), 100ms);
    ups.Connect(config, serial, demo, "");
    ASSERT_TRUE(serial.IsOpen());
    WaitFor(kNotifyStatus);
    EXPECT_TRUE(device.WaitForCommand("F\r"));
    EXPECT_TRUE(device.WaitForCommand("I\r"));

    platform::Event& done = ups.SetShutdown(120, 5);
    EXPECT_TRUE(ups.ShutdownQueued());
    EXPECT_TRUE(device.WaitForCommand("S02R0005\r"));
    EXPECT_TRUE(done.Wait(10s)) << "raised after the last repeat";
    auto all = device.Commands();
    EXPECT_EQ(std::count(all.begin(), all.end(), "S02R0005\r"), 3);
    ups.SetShutdown(11, 0);
    EXPECT_FALSE(ups.ShutdownQueued());

    ups.StartTest(5);
    EXPECT_TRUE(device.WaitForCommand("T05\r"));

    device.SetSilent(true);
    auto codes = WaitFor(kNotifyDisconnected);
    EXPECT_GE(IndexOf(codes, kNotifyDisconnected), 0);
    EXPECT_FALSE(ups.IsConnected());
    EXPECT_EQ(ups.Status().inputVoltage, 0) << "a lost UPS leaves no stale readings";
    device.SetSilent(false);
    WaitFor(kNotifyConnected, 2);
    EXPECT_TRUE(ups.IsConnected());
    ups.DetachLink();
    serial.Close();
    unsetenv("TORVANE_COM1");
}

TEST_F(UpsObject, APortThatCannotBeOpenedIsReportedAsALostUps) {
    setenv("TORVANE_COM1", "/nonexistent/ttyUSB9", 1);
    CRS232 serial;
    CDemoComm demo;
    CUPS ups;
    ups::CConfig config;
    config.upsType = ups::CConfig::kStavlen;
    config.comPort = 0;
    ups.Start(owner_->handle(), 100ms);
    ups.Connect(config, serial, demo, "");
    EXPECT_FALSE(serial.IsOpen());
    auto codes = WaitFor(kNotifyDisconnected);
    EXPECT_GE(IndexOf(codes, kNotifyDisconnected), 0);
    EXPECT_FALSE(ups.IsConnected());
    unsetenv("TORVANE_COM1");
}

TEST_F(UpsObject, TheModelFromTheRegistryFillsInWhatTheUpsDidNotSay) {
    // The registry's first use, in this test's own tree.
    char place[] = "/tmp/upsmodelXXXXXX";
    ASSERT_NE(mkdtemp(place), nullptr);
    setenv("TORVANE_REGISTRY", place, 1);
    auto& registry = ups::platform::SystemRegistry();
    const std::string key = "Software\\Stavlen\\UPSModel";
    ASSERT_TRUE(
        registry.WriteString(key, "RatingInfo", ups::platform::ValueType::ExpandString, kRating));
    ASSERT_TRUE(registry.WriteString(key, "BasicInfo", ups::platform::ValueType::ExpandString,
                                     "#not a model line"));
    CUPS ups;
    ups.Start(owner_->handle(), 100ms);
    ups.ReadModelInfoFromRegistry();
    auto codes = WaitFor(kNotifyRatingInfo);
    EXPECT_EQ(ups.RatingInfo().batteryVoltage, 2400);
    EXPECT_EQ(ups.RatingInfo().voltage, 2300);
    // A line of the wrong layout fills in nothing.
    EXPECT_LT(IndexOf(codes, kNotifyBasicInfo), 0);
    EXPECT_TRUE(ups.BasicInfo().rawLine.empty());
    ASSERT_TRUE(
        registry.WriteString(key, "BasicInfo", ups::platform::ValueType::ExpandString, kBasic));
    ups.ReadModelInfoFromRegistry();
    WaitFor(kNotifyBasicInfo);
    EXPECT_EQ(ups.BasicInfo().rawLine, std::string(kBasic) + "\r");
    std::filesystem::remove_all(place);
}

}  // namespace
