// The serial link against a real pseudo-terminal: what the reader tells the UPS object, the
// port settings a real device needs, and a line that dies and comes back.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rs232.h"

namespace {

using namespace std::chrono_literals;
using torvane::CRS232;

// Plays the UPS object: records the notifications and, like its window, reads a ready reply at
// once (the reader waits for that).
class Owner : public torvane::CommNotifySink {
  public:
    explicit Owner(CRS232& link) : link_(link) {}
    void CommNotify(int lParam, int wParam) override {
        std::string reply;
        if (lParam == torvane::kCommDataReady) {
            char buffer[200];
            int n = link_.Read(buffer, sizeof buffer);
            reply.assign(buffer, static_cast<std::size_t>(std::max(n, 0)));
            EXPECT_EQ(n, wParam);
        }
        std::lock_guard lock(mutex_);
        codes_.push_back(lParam);
        if (!reply.empty()) replies_.push_back(reply);
        changed_.notify_all();
    }
    // Waits until `count` notifications arrived; the codes so far.
    std::vector<int> WaitFor(std::size_t count, std::chrono::seconds limit = 10s) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return codes_.size() >= count; });
        return codes_;
    }
    std::vector<std::string> Replies() {
        std::lock_guard lock(mutex_);
        return replies_;
    }

  private:
    CRS232& link_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> codes_;
    std::vector<std::string> replies_;
};

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~Pty() { Hangup(); }
    void Hangup() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
        master = slave = -1;
    }
    std::string ReadCommand() {
        std::string got;
        for (int i = 0; i < 200 && got.find('\r') == std::string::npos; ++i) {
            char buf[64];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
            if (n <= 0) std::this_thread::sleep_for(10ms);
        }
        return got;
    }
    void Answer(const std::string& text) {
        ASSERT_EQ(::write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
};

constexpr const char* kStatus = "(230.0 230.0 230.0 021 50.0 2.25 25.0 00001000\r";

class Rs232 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty_.path.empty());
        int flags = fcntl(pty_.master, F_GETFL);
        fcntl(pty_.master, F_SETFL, flags | O_NONBLOCK);
        setenv("TORVANE_COM1", pty_.path.c_str(), 1);
    }
    void TearDown() override { unsetenv("TORVANE_COM1"); }
    void Start() {
        link_.SetOwner(&owner_);
        link_.Open(0, 2400);
        ASSERT_TRUE(link_.IsOpen());
        link_.SetEventChar('\r');
        link_.SetWriteSignal(1);
    }

    Pty pty_;
    CRS232 link_;
    Owner owner_{link_};
};

TEST(ComPorts, IndexesNameTheirDevices) {
    unsetenv("TORVANE_COM3");
    EXPECT_EQ(torvane::ComPortName(0), "COM1");
    EXPECT_EQ(torvane::ComPortPath(2), "/dev/ttyS2");
    setenv("TORVANE_COM9", "/dev/ttyUSB0", 1);
    EXPECT_EQ(torvane::ComPortPath(8), "/dev/ttyUSB0");
    unsetenv("TORVANE_COM9");
    EXPECT_EQ(torvane::ComPortPath(9), "");
    EXPECT_EQ(torvane::ComPortName(-1), "");
}

TEST_F(Rs232, AReplyEndingInTheEventCharacterIsReadyAndStaleBytesAreGone) {
    // What a real port holds before we open it: flow control on, bytes from long ago.
    termios t{};
    tcgetattr(pty_.slave, &t);
    t.c_iflag |= IXON | IXOFF;
    tcsetattr(pty_.slave, TCSANOW, &t);
    pty_.Answer("#stale reply\r");
    Start();
    // The line's own echo of those bytes, from before the port was raw.
    char echo[256];
    while (::read(pty_.master, echo, sizeof echo) > 0) {
    }
    tcgetattr(pty_.master, &t);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u) << "software flow control would hold replies";
    EXPECT_EQ(t.c_lflag & ICANON, 0u);

    link_.Write("Q1\r");
    EXPECT_EQ(pty_.ReadCommand(), "Q1\r");
    pty_.Answer(kStatus);
    EXPECT_EQ(owner_.WaitFor(2),
              (std::vector<int>{torvane::kCommConnected, torvane::kCommDataReady}));
    EXPECT_EQ(owner_.Replies(), std::vector<std::string>{kStatus});
    EXPECT_TRUE(link_.IsConnected());

    // A reply that comes in pieces is one reply.
    link_.Write("Q1\r");
    EXPECT_EQ(pty_.ReadCommand(), "Q1\r");
    pty_.Answer(std::string(kStatus).substr(0, 20));
    std::this_thread::sleep_for(100ms);
    pty_.Answer(std::string(kStatus).substr(20));
    EXPECT_EQ(owner_.WaitFor(3).back(), torvane::kCommDataReady);
    EXPECT_EQ(owner_.Replies().back(), kStatus);
}

TEST_F(Rs232, FourMissesInARowAreADisconnect) {
    Start();
    link_.Write("Q1\r");
    pty_.ReadCommand();
    pty_.Answer(kStatus);
    owner_.WaitFor(2);
    for (int i = 0; i < 4; ++i) {
        link_.Write("Q1\r");
        pty_.ReadCommand();
        owner_.WaitFor(3 + static_cast<std::size_t>(i));
    }
    auto codes = owner_.WaitFor(7);
    EXPECT_EQ(std::vector<int>(codes.begin() + 2, codes.end()),
              (std::vector<int>{4, 4, 4, 4, torvane::kCommDisconnected}));
    EXPECT_FALSE(link_.IsConnected());
    // Silence without a command is no miss: the reader waits for the next command.
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(owner_.WaitFor(8, 0s).size(), 7u);
}

TEST_F(Rs232, ALineThatDiesIsReopenedWhenTheDeviceIsBack) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("rs232-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::path link = dir / "ttyUPS";
    std::filesystem::create_symlink(pty_.path, link);
    setenv("TORVANE_COM1", link.c_str(), 1);
    Start();
    link_.Write("Q1\r");
    pty_.ReadCommand();
    pty_.Answer(kStatus);
    owner_.WaitFor(2);

    // The adapter is pulled: its device goes away and comes back under the same name.
    pty_.Hangup();
    Pty again;
    int flags = fcntl(again.master, F_GETFL);
    fcntl(again.master, F_SETFL, flags | O_NONBLOCK);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(again.path, link);

    // The UPS object keeps polling every two seconds; within a few polls one reaches the new
    // device and its answer is taken.
    std::string got;
    for (int round = 0; round < 10 && got.empty(); ++round) {
        link_.Write("Q1\r");
        got = again.ReadCommand();
    }
    EXPECT_EQ(got, "Q1\r") << "the link never came back";
    again.Answer(kStatus);
    bool answered = false;
    for (int i = 0; i < 50 && !answered; ++i) {
        auto replies = owner_.Replies();
        answered = replies.size() >= 2 && replies.back() == kStatus;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(answered);
    link_.Close();
    std::filesystem::remove_all(dir);
}

TEST_F(Rs232, PortsThatCannotBeOpenedSaySoAndCloseIsIdempotent) {
    setenv("TORVANE_COM1", "/nonexistent/tty", 1);
    link_.SetOwner(&owner_);
    link_.Open(0, 9600);
    EXPECT_FALSE(link_.IsOpen());
    EXPECT_EQ(owner_.WaitFor(1, 1s), std::vector<int>{torvane::kCommOpenFailed});
    // A regular file is no port either.
    auto file = std::filesystem::temp_directory_path() / ("notatty-" + std::to_string(getpid()));
    {
        FILE* f = std::fopen(file.c_str(), "w");
        std::fclose(f);
    }
    setenv("TORVANE_COM1", file.c_str(), 1);
    link_.Open(0, 9600);
    EXPECT_FALSE(link_.IsOpen());
    std::filesystem::remove(file);
    link_.Close();
    link_.Close();
    char buffer[8];
    EXPECT_EQ(link_.Read(buffer, sizeof buffer), 0);
    EXPECT_EQ(link_.Write("Q1\r"), 0);
}

}  // namespace
