#include "ups_lib/platform/copy_data.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "ups_lib/platform/events.h"
#include "ups_lib/platform/message_loop.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using platform::CopyDataEndpoint;
using platform::CopyDataMessage;
using platform::CopyDataStatus;
using platform::Event;
using platform::SendCopyData;
using platform::WindowThread;

constexpr std::uint32_t kHold = 77;  // the handler waits for the test's gate
constexpr std::uint32_t kDie = 99;   // the handler ends its process without answering
constexpr uid_t kNobody = 65534;

// Keeps what it receives; answers identifier + data length, so the result proves which message
// the handler saw.
class Inbox : public platform::Window {
  public:
    struct Seen {
        std::uint32_t identifier;
        std::string data;
        std::string sender;
    };
    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    Event gate{Event::Mode::kManualReset};
    Event holding{Event::Mode::kManualReset};

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t lparam) override {
        if (msg != platform::kWmCopyData) return 0;
        const auto& m = *reinterpret_cast<const CopyDataMessage*>(lparam);
        {
            std::lock_guard lock(mutex_);
            seen_.push_back({m.identifier, std::string(m.data), std::string(m.sender)});
        }
        if (m.identifier == kDie) _exit(0);
        if (m.identifier == kHold) {
            holding.Set();
            gate.Wait();
        }
        return static_cast<std::intptr_t>(m.identifier + m.data.size());
    }

  private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// Another process, started afresh: fork, then at once exec of this test program running one of
// the CopyDataChild tests below. A child that went on from the fork of a program with threads
// running could deadlock in the allocator (the sanitizers' above all), so none does.
struct Child {
    pid_t pid = -1;
    int ready = -1;  // the child writes one byte here once its endpoint is up
};

Child StartChild(const std::string& mode, bool as_nobody, const std::filesystem::path& rundir,
                 bool open_to_all = false) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "TORVANE_RUNDIR=", 15) != 0) env.emplace_back(*e);
    }
    env.push_back("TORVANE_RUNDIR=" + rundir.string());
    env.push_back("COPY_DATA_CHILD=" + mode);
    env.push_back("COPY_DATA_READY_FD=" + std::to_string(fds[1]));
    if (open_to_all) env.emplace_back("COPY_DATA_OPEN_TO_ALL=1");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=CopyDataChild." + mode;
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
        if (as_nobody &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(100);
        }
        execve(self.c_str(), argv, envp.data());
        _exit(101);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

// The child's ready byte, or -1 when none came within half a minute.
int ReadyByte(const Child& child) {
    pollfd p{child.ready, POLLIN, 0};
    if (poll(&p, 1, 30000) != 1) return -1;
    char c = 0;
    return read(child.ready, &c, 1) == 1 ? c : -1;
}

// The child's exit status: 200 when it had to be killed after half a minute (or `stop` says so
// at once), 201 when a signal ended it.
int Finish(Child& child, bool stop = false) {
    int status = 0;
    for (int waited = 0; !stop && waited < 300; ++waited) {
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
            close(child.ready);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 201;
        }
        std::this_thread::sleep_for(100ms);
    }
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    close(child.ready);
    return 200;
}

const char* ChildMode() {
    return std::getenv("COPY_DATA_CHILD");
}

void SignalReady(bool ok) {
    const char* fd = std::getenv("COPY_DATA_READY_FD");
    char c = ok ? 1 : 0;
    if (fd == nullptr || write(std::atoi(fd), &c, 1) != 1) _exit(3);
}

// The children's parts. Run by themselves they do nothing.
TEST(CopyDataChild, Send) {
    if (ChildMode() == nullptr) GTEST_SKIP() << "the child of another test";
    auto r = SendCopyData("Torvane 2000 for Windows", 1, "hello");
    _exit(static_cast<int>(r.status));
}

TEST(CopyDataChild, OpenEndpoint) {
    if (ChildMode() == nullptr) GTEST_SKIP() << "the child of another test";
    WindowThread thread;
    auto inbox = thread.Create<Inbox>();
    _exit(CopyDataEndpoint::Open("Stavlen USB", inbox->handle()) ? 1 : 0);
}

TEST(CopyDataChild, Receiver) {
    if (ChildMode() == nullptr) GTEST_SKIP() << "the child of another test";
    WindowThread thread;
    auto inbox = thread.Create<Inbox>();
    auto endpoint = CopyDataEndpoint::Open("Stavlen USB", inbox->handle());
    if (endpoint && std::getenv("COPY_DATA_OPEN_TO_ALL") != nullptr) {
        // Open to all, so only the agent's own checks stand in the way.
        const char* run = std::getenv("TORVANE_RUNDIR");
        chmod((std::filesystem::path(run) / platform::detail::CopyDataFileName("Stavlen USB"))
                  .c_str(),
              0666);
    }
    SignalReady(endpoint != nullptr);
    pause();
    _exit(2);
}

// Every test gets a run directory of its own, readable by all like /run/torvane.
class CopyDataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_ = dir_ / "run";
        std::filesystem::create_directory(run_);
        chmod(dir_.path().c_str(), 0755);
        chmod(run_.c_str(), 0755);
        setenv("TORVANE_RUNDIR", run_.c_str(), 1);
    }
    void TearDown() override { unsetenv("TORVANE_RUNDIR"); }

    std::unique_ptr<CopyDataEndpoint> Open(const std::string& caption) {
        inbox_ = thread_.Create<Inbox>();
        return CopyDataEndpoint::Open(caption, inbox_->handle());
    }
    std::filesystem::path SocketOf(const std::string& caption) {
        return run_ / platform::detail::CopyDataFileName(caption);
    }

    ups::test::TempDir dir_;
    std::filesystem::path run_;
    WindowThread thread_;
    platform::WindowPtr<Inbox> inbox_;
};

TEST(CopyDataFileName, KeepsCaptionsInsideTheRunDirectory) {
    using platform::detail::CopyDataFileName;
    EXPECT_EQ(CopyDataFileName("Stavlen USB"), "Stavlen%20USB");
    EXPECT_EQ(CopyDataFileName("Torvane 2000 for Windows"), "Torvane%202000%20for%20Windows");
    EXPECT_EQ(CopyDataFileName("../etc/x"), "%2E.%2Fetc%2Fx");
    EXPECT_EQ(CopyDataFileName(".."), "%2E.");
    EXPECT_EQ(CopyDataFileName(std::string("a\0b", 3)), "a%00b");
    EXPECT_EQ(CopyDataFileName(""), "");
    EXPECT_EQ(CopyDataFileName(std::string(platform::kCopyDataMaxCaption + 1, 'x')), "");
}

TEST_F(CopyDataTest, AMessageReachesTheWindowAndItsResultComesBack) {
    auto endpoint = Open("Stavlen USB");
    ASSERT_TRUE(endpoint);
    EXPECT_TRUE(platform::FindCopyDataWindow("Stavlen USB"));
    EXPECT_FALSE(platform::FindCopyDataWindow("Stavlen USB2"));

    std::string values("\x02\0\0\0\x01\0\0\0", 8);
    auto r = SendCopyData("Stavlen USB", 150, values, "Torvane UPS");
    ASSERT_EQ(r.status, CopyDataStatus::kDelivered);
    EXPECT_EQ(r.result, 158);
    // The largest block goes whole, an empty one too.
    std::string big(platform::kCopyDataMaxBytes, '\xA5');
    big[0] = '\0';
    r = SendCopyData("Stavlen USB", 7, big);
    ASSERT_EQ(r.status, CopyDataStatus::kDelivered);
    EXPECT_EQ(r.result, static_cast<std::intptr_t>(7 + big.size()));
    EXPECT_EQ(SendCopyData("Stavlen USB", 3, {}).result, 3);

    auto seen = inbox_->seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].identifier, 150u);
    EXPECT_EQ(seen[0].data, values);
    EXPECT_EQ(seen[0].sender, "Torvane UPS");
    EXPECT_EQ(seen[1].data, big);
    EXPECT_EQ(seen[1].sender, "");
}

TEST_F(CopyDataTest, OversizedOrMalformedMessagesNeverReachTheWindow) {
    auto endpoint = Open("Stavlen USB");
    ASSERT_TRUE(endpoint);
    std::string tooBig(platform::kCopyDataMaxBytes + 1, 'x');
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, tooBig).status, CopyDataStatus::kRefused);
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, "x", std::string(100, 's')).status,
              CopyDataStatus::kRefused);

    // A peer of our own that writes its own packets: too long, lying lengths, no header.
    auto raw = [&](const std::string& packet) {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, SocketOf("Stavlen USB").c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(send(fd, packet.data(), packet.size(), 0), static_cast<ssize_t>(packet.size()));
        char answer[16];
        ssize_t n = recv(fd, answer, sizeof answer, 0);
        close(fd);
        return n == 1 ? answer[0] : '?';
    };
    auto header = [](std::uint32_t sender, std::uint32_t data) {
        std::uint32_t words[4] = {0x4B434431, 5, sender, data};
        return std::string(reinterpret_cast<const char*>(words), sizeof words);
    };
    EXPECT_EQ(raw(header(0, 200000) + std::string(200000, 'x')), 'R');
    EXPECT_EQ(raw(header(0, 10) + "short"), 'R');
    EXPECT_EQ(raw(header(1000, 0) + "s"), 'R');
    EXPECT_EQ(raw("junk"), 'R');
    EXPECT_TRUE(inbox_->seen().empty());
    // The endpoint still serves after all that.
    EXPECT_EQ(SendCopyData("Stavlen USB", 4, "ok").result, 6);
}

TEST_F(CopyDataTest, NoEndpointAndATakenCaption) {
    EXPECT_EQ(SendCopyData("Stavlen USB", 150, "x").status, CopyDataStatus::kNoWindow);
    EXPECT_EQ(SendCopyData("", 150, "x").status, CopyDataStatus::kRefused);
    auto first = Open("Stavlen USB");
    ASSERT_TRUE(first);
    std::string error;
    EXPECT_FALSE(CopyDataEndpoint::Open("Stavlen USB", inbox_->handle(), &error));
    EXPECT_NE(error.find("another program"), std::string::npos) << error;
    // Its file stays the first one's.
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, "").status, CopyDataStatus::kDelivered);
    first.reset();
    EXPECT_FALSE(std::filesystem::exists(SocketOf("Stavlen USB")));
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, "").status, CopyDataStatus::kNoWindow);
    EXPECT_TRUE(Open("Stavlen USB"));
}

TEST_F(CopyDataTest, AHandlerThatDoesNotReturnInTimeIsGivenUp) {
    auto endpoint = Open("Stavlen USB");
    ASSERT_TRUE(endpoint);
    auto r = SendCopyData("Stavlen USB", kHold, "", {}, 100ms);
    EXPECT_EQ(r.status, CopyDataStatus::kTimedOut);
    ASSERT_TRUE(inbox_->holding.Wait(10s));
    inbox_->gate.Set();
    // The late answer went nowhere; the next message is served normally.
    EXPECT_EQ(SendCopyData("Stavlen USB", 5, "ab").result, 7);
}

TEST_F(CopyDataTest, AReceiverThatDiesBeforeAnsweringIsNoticedAndItsNameFreed) {
    Child child = StartChild("Receiver", false, run_);
    ASSERT_EQ(ReadyByte(child), 1);
    // Not a time-out: the sender learns at once that nobody will answer.
    auto started = std::chrono::steady_clock::now();
    auto r = SendCopyData("Stavlen USB", kDie, "", {}, 60s);
    EXPECT_EQ(r.status, CopyDataStatus::kBroken);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_EQ(Finish(child), 0) << "the child ends itself on the message";
    // The dead endpoint's socket file is left behind: it answers nobody, and a new endpoint
    // takes the name over.
    EXPECT_TRUE(std::filesystem::exists(SocketOf("Stavlen USB")));
    EXPECT_FALSE(platform::FindCopyDataWindow("Stavlen USB"));
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, "").status, CopyDataStatus::kNoWindow);
    auto endpoint = Open("Stavlen USB");
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, "").status, CopyDataStatus::kDelivered);
}

TEST_F(CopyDataTest, AnotherUserCanNeitherTalkToAnEndpointNorPoseAsOne) {
    auto endpoint = Open("Torvane 2000 for Windows");
    ASSERT_TRUE(endpoint);
    auto send = [this] {
        Child child = StartChild("Send", true, run_);
        return Finish(child);
    };
    // The socket file is for its owner only...
    EXPECT_EQ(send(), static_cast<int>(CopyDataStatus::kRefused));
    // ...and where its mode lets anyone connect, the credentials still keep them out.
    ASSERT_EQ(chmod(SocketOf("Torvane 2000 for Windows").c_str(), 0666), 0);
    EXPECT_EQ(send(), static_cast<int>(CopyDataStatus::kRefused));
    EXPECT_TRUE(inbox_->seen().empty());
    EXPECT_EQ(SendCopyData("Torvane 2000 for Windows", 1, "hello").result, 6);

    // Nobody cannot make an endpoint in our run directory...
    Child maker = StartChild("OpenEndpoint", true, run_);
    EXPECT_EQ(Finish(maker), 0);
    // ...and one made in a directory of nobody's is not believed.
    auto theirs = dir_ / "theirs";
    std::filesystem::create_directory(theirs);
    ASSERT_EQ(chown(theirs.c_str(), kNobody, kNobody), 0);
    chmod(theirs.c_str(), 0755);
    Child fake = StartChild("Receiver", true, theirs, true);
    EXPECT_EQ(ReadyByte(fake), 1);
    setenv("TORVANE_RUNDIR", theirs.c_str(), 1);
    EXPECT_EQ(SendCopyData("Stavlen USB", 150, "x").status, CopyDataStatus::kRefused);
    EXPECT_FALSE(platform::FindCopyDataWindow("Stavlen USB"));
    // Even with the directory made ours, the endpoint's owner is not one we talk to.
    ASSERT_EQ(chown(theirs.c_str(), 0, 0), 0);
    EXPECT_EQ(SendCopyData("Stavlen USB", 150, "x").status, CopyDataStatus::kRefused);
    Finish(fake, true);
}

TEST_F(CopyDataTest, ARunDirectoryOthersMayWriteIsRefused) {
    ASSERT_EQ(chmod(run_.c_str(), 01777), 0);
    std::string error;
    inbox_ = thread_.Create<Inbox>();
    EXPECT_FALSE(CopyDataEndpoint::Open("Stavlen USB", inbox_->handle(), &error));
    EXPECT_NE(error.find("only its owner"), std::string::npos) << error;
    ASSERT_EQ(chmod(run_.c_str(), 0755), 0);
    auto endpoint = CopyDataEndpoint::Open("Stavlen USB", inbox_->handle());
    ASSERT_TRUE(endpoint);
    ASSERT_EQ(chmod(run_.c_str(), 0777), 0);
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, "").status, CopyDataStatus::kRefused);
    ASSERT_EQ(chmod(run_.c_str(), 0755), 0);
    // A missing directory is made, for root and readable by all.
    std::filesystem::remove_all(run_);
    auto again = CopyDataEndpoint::Open("Stavlen USB", inbox_->handle());
    ASSERT_TRUE(again);
    struct stat st {};
    ASSERT_EQ(stat(run_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(SendCopyData("Stavlen USB", 1, "").status, CopyDataStatus::kDelivered);
}

}  // namespace
