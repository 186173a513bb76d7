// The service host without a service manager: what the control requests do, how start-up ends
// when initialisation fails, what reaches systemd's notification socket, and the tray's
// capacity tip.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "nt_service.h"
#include "tray_icon.h"
#include "ups_lib/event_texts.h"

namespace torvane {
namespace {

struct Entry {
    std::uint16_t type;
    std::uint32_t id;
    std::string text;
};

class RecordingLog final : public ups::platform::SystemLog {
  public:
    void Report(std::string_view source, std::uint16_t type, std::uint32_t id,
                std::string_view text) override {
        EXPECT_EQ(source, "Probe");
        entries.push_back({type, id, std::string(text)});
    }
    void Alert(std::string_view, std::string_view) override {}
    std::vector<std::uint32_t> Ids() const {
        std::vector<std::uint32_t> ids;
        for (const auto& e : entries) ids.push_back(e.id);
        return ids;
    }
    std::vector<Entry> entries;
};

class ProbeService final : public CNTService {
  public:
    explicit ProbeService(RecordingLog& log) : CNTService("Probe", log) {}
    bool OnInit() override {
        calls += "init ";
        return initOk;
    }
    void Run() override {
        calls += IsRunning() ? "run(running) " : "run ";
        if (stopInRun) Handler(kControlStop);
    }
    void OnStop() override { calls += "stop "; }
    void OnPause() override { calls += "pause "; }
    bool OnUserControl(std::uint32_t code) override {
        calls += "user" + std::to_string(code) + " ";
        return code == 200;
    }

    bool initOk = true;
    bool stopInRun = false;
    std::string calls;
};

TEST(CNTService, ControlRequestsReachTheirHandlersAndUnknownOnesAreLogged) {
    RecordingLog log;
    ProbeService service(log);
    service.Handler(kControlPause);
    service.Handler(7);    // a system code the service does not take
    service.Handler(200);  // its own, handled
    service.Handler(201);  // its own, refused
    EXPECT_EQ(service.calls, "pause user200 user201 ");
    EXPECT_EQ(log.Ids(),
              (std::vector<std::uint32_t>{ups::kEvUnsupportedRequest, ups::kEvUnsupportedRequest}));
    EXPECT_EQ(log.entries[0].type, 1);  // an error

    service.Handler(kControlStop);
    EXPECT_EQ(service.Status().state, kServiceStopPending);
    EXPECT_FALSE(service.IsRunning());
    EXPECT_EQ(log.entries.back().id, ups::kEvServiceStopped);
    EXPECT_EQ(log.entries.back().text, "The service was stopped.");
}

TEST(CNTService, StartUpRunsOnlyWhenInitialisationSucceeds) {
    {
        RecordingLog log;
        ProbeService service(log);
        service.stopInRun = true;
        service.ServiceMain();
        EXPECT_EQ(service.calls, "init run(running) stop ");
        EXPECT_EQ(log.Ids(),
                  (std::vector<std::uint32_t>{ups::kEvServiceStarted, ups::kEvServiceStopped}));
        EXPECT_EQ(service.Status().state, kServiceStopped);
    }
    {
        RecordingLog log;
        ProbeService service(log);
        service.initOk = false;
        service.ServiceMain();
        EXPECT_EQ(service.calls, "init ");
        EXPECT_EQ(log.Ids(), std::vector<std::uint32_t>{ups::kEvInitFailed});
        EXPECT_EQ(service.Status().state, kServiceStopped);
        EXPECT_EQ(service.Status().exit_code, kServiceSpecificError);
    }
}

TEST(CNTService, InsertionStringsAreFilledIn) {
    RecordingLog log;
    ProbeService service(log);
    service.LogEvent(ups::platform::EventType::Information, ups::kEvDebug, "hello");
    service.LogEvent(ups::platform::EventType::Information, ups::kEvDebug);
    EXPECT_EQ(log.entries[0].text, "Debug: hello");
    EXPECT_EQ(log.entries[1].text, "Debug: ");
}

// systemd learns that the agent runs once start-up is through, and that it stops when the stop
// request comes, over the datagram socket it names in $NOTIFY_SOCKET.
TEST(CNTService, StatusReachesTheNotificationSocket) {
    const std::string path =
        std::filesystem::temp_directory_path() / ("notify-" + std::to_string(::getpid()));
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);

    RecordingLog log;
    ProbeService service(log);
    service.stopInRun = true;
    service.ServiceMain();
    ::unsetenv("NOTIFY_SOCKET");

    std::vector<std::string> got;
    char buf[256];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) break;
        got.emplace_back(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    ::unlink(path.c_str());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].rfind("READY=1\n", 0), 0u);
    EXPECT_EQ(got[1], "STOPPING=1");
}

class FakeTray final : public TrayIcon {
  public:
    explicit FakeTray(std::vector<std::string>& calls) : calls_(calls) {}
    bool Add(std::string_view tip) override {
        calls_.push_back("add " + std::string(tip));
        return true;
    }
    bool Modify(std::string_view tip) override {
        calls_.push_back("modify " + std::string(tip));
        return !lost;
    }
    void Remove() override { calls_.push_back("remove"); }
    bool lost = false;

  private:
    std::vector<std::string>& calls_;
};

TEST(CapacityTray, TipEveryFifthSecondAndTheIconComesBackWhenLost) {
    std::vector<std::string> calls;
    auto icon = std::make_unique<FakeTray>(calls);
    FakeTray* raw = icon.get();
    {
        CapacityTray tray(std::move(icon));
        for (int i = 0; i < 4; ++i) tray.Tick(87);
        EXPECT_EQ(calls, std::vector<std::string>{"add Torvane"});
        tray.Tick(87);
        EXPECT_EQ(calls.back(), "modify UPS Capacity: 87%");
        raw->lost = true;  // the shell restarted
        for (int i = 0; i < 5; ++i) tray.Tick(100);
        EXPECT_EQ(calls.size(), 4u);
        EXPECT_EQ(calls[2], "modify UPS Capacity: 100%");
        EXPECT_EQ(calls[3], "add UPS Capacity: 100%");
    }
    EXPECT_EQ(calls.back(), "remove");
}

}  // namespace
}  // namespace torvane
