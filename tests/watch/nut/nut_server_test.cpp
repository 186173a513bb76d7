// The NUT server over real loopback sockets: requests and replies, the logins it counts, and the
// bounds a hostile peer runs into (lines, connections, unread replies, guesses, descriptors).
#include "watch/nut/nut_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace torvane::watch {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A blocking test client with a deadline on every wait, so that a server that fails to answer
// fails the test instead of hanging it.
class Client {
  public:
    explicit Client(std::uint16_t port, const char* from = "127.0.0.1", int receiveBuffer = 0,
                    bool connectNow = true)
        : port_(port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from, &local.sin_addr);
        bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        if (connectNow) Connect();
    }
    bool Connect() {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        return connected_;
    }
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }
    void Close() {
        close(fd_);
        fd_ = -1;
    }

    bool Send(std::string_view text) {
        while (!text.empty()) {
            const ssize_t n = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // The next line without its end; empty at the end of the stream or after the deadline.
    std::string Line(std::chrono::milliseconds wait = 5s) {
        const auto until = Clock::now() + wait;
        for (;;) {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (!Fill(until)) return "";
        }
    }

    std::string Ask(std::string_view request) {
        Send(std::string(request) + "\n");
        return Line();
    }

    // The whole reply to a LIST: from BEGIN to END, or the one error line.
    std::string AskList(std::string_view request) {
        Send(std::string(request) + "\n");
        std::string out;
        for (;;) {
            const std::string line = Line();
            out += line + "\n";
            if (line.empty() || line.starts_with("END LIST") || line.starts_with("ERR")) {
                return out;
            }
        }
    }

    // Whether the server closes this connection (after any replies still on their way).
    bool ClosedByServer(std::chrono::milliseconds wait = 5s) {
        const auto until = Clock::now() + wait;
        for (;;) {
            buffer_.clear();
            if (!Fill(until)) return eof_;
        }
    }

  private:
    bool Fill(Clock::time_point until) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char chunk[4096];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    std::uint16_t port_;
    int fd_ = -1;
    bool connected_ = false;
    bool eof_ = false;
    std::string buffer_;
};

bool Eventually(const std::function<bool()>& condition) {
    const auto until = Clock::now() + 5s;
    while (Clock::now() < until) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class NutServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        board.Update([](UpsSnapshot& s) {
            s.connected = true;
            s.status.rawLine = "(230.4 230.4 230.0 021 50.0 27.30 25.0 00001001\r";
            s.status.inputVoltage = 2304;
        });
        server = std::make_unique<NutServer>(board, NutAccess{"admin", "s3cret"},
                                             [this] { ++fsdCalls; });
        std::string problem;
        ASSERT_TRUE(server->Start(Listener{true, "127.0.0.1", 0}, problem)) << problem;
        port = server->Port();
        ASSERT_NE(port, 0);
    }

    SnapshotBoard board;
    std::atomic<int> fsdCalls{0};
    std::unique_ptr<NutServer> server;
    std::uint16_t port = 0;
};

TEST_F(NutServerTest, AnswersFromTheLatestSnapshot) {
    Client c(port);
    ASSERT_TRUE(c.Connected());
    EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "VAR ups ups.status \"OL\"");
    EXPECT_EQ(c.Ask("GET VAR ups input.voltage"), "VAR ups input.voltage \"230.4\"");
    board.Update([](UpsSnapshot& s) {
        s.acFail = true;
        s.batteryLow = true;
    });
    EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "VAR ups ups.status \"OB LB\"");
    board.Update([](UpsSnapshot& s) { s.connected = false; });
    EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "ERR DATA-STALE");
}

TEST_F(NutServerTest, PipelinedRequestsAreAnsweredInOrderWhateverTheLineEnds) {
    Client c(port);
    c.Send("NETVER\r\nGET VAR ups ups.status\nVER\n");
    EXPECT_EQ(c.Line(), "1.3");
    EXPECT_EQ(c.Line(), "VAR ups ups.status \"OL\"");
    EXPECT_EQ(c.Line(), "Torvane agent - NUT network protocol 1.3");
    // A request in pieces is one request.
    c.Send("GET VAR ");
    std::this_thread::sleep_for(20ms);
    c.Send("ups input.voltage\n");
    EXPECT_EQ(c.Line(), "VAR ups input.voltage \"230.4\"");
}

TEST_F(NutServerTest, StartReportsAnAddressItCannotHave) {
    NutServer other(board, {}, {});
    std::string problem;
    EXPECT_FALSE(other.Start(Listener{true, "127.0.0.1", port}, problem));
    EXPECT_NE(problem.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << problem;
    NutServer bad(board, {}, {});
    problem.clear();
    EXPECT_FALSE(bad.Start(Listener{true, "localhost.example", 0}, problem));
    EXPECT_NE(problem.find("localhost.example"), std::string::npos) << problem;
}

TEST_F(NutServerTest, LoginsFollowLoginLogoutAndDisconnection) {
    Client a(port);
    Client b(port);
    EXPECT_EQ(server->Logins(), 0);
    for (Client* c : {&a, &b}) {
        ASSERT_EQ(c->Ask("USERNAME mon"), "OK");
        ASSERT_EQ(c->Ask("PASSWORD pw"), "OK");
        ASSERT_EQ(c->Ask("LOGIN ups"), "OK");
    }
    EXPECT_EQ(server->Logins(), 2);
    EXPECT_EQ(a.Ask("GET NUMLOGINS ups"), "NUMLOGINS ups 2");
    EXPECT_EQ(a.AskList("LIST CLIENT ups"),
              "BEGIN LIST CLIENT ups\nCLIENT ups 127.0.0.1\nCLIENT ups 127.0.0.1\n"
              "END LIST CLIENT ups\n");

    EXPECT_EQ(a.Ask("LOGOUT"), "OK Goodbye");
    EXPECT_TRUE(a.ClosedByServer());
    EXPECT_TRUE(Eventually([&] { return server->Logins() == 1; }));

    // A secondary that goes away without a word is no longer waited for.
    b.Close();
    EXPECT_TRUE(Eventually([&] { return server->Logins() == 0; }));
    Client c(port);
    EXPECT_EQ(c.Ask("GET NUMLOGINS ups"), "NUMLOGINS ups 0");
}

TEST_F(NutServerTest, ALineTooLongIsRefusedAndItsConnectionClosed) {
    // 512 bytes is the limit and still a request.
    Client fits(port);
    const std::string name(512 - std::string("GET VAR ups ").size(), 'x');
    EXPECT_EQ(fits.Ask("GET VAR ups " + name + "\r"), "ERR VAR-NOT-SUPPORTED");

    Client longer(port);
    longer.Send(std::string(600, 'A') + "\n");
    EXPECT_EQ(longer.Line(), "ERR INVALID-ARGUMENT");
    EXPECT_TRUE(longer.ClosedByServer());

    // Without its line end it is cut as soon as it is too long.
    Client endless(port);
    endless.Send("GET VAR ups " + std::string(600, 'y'));
    EXPECT_EQ(endless.Line(), "ERR INVALID-ARGUMENT");
    EXPECT_TRUE(endless.ClosedByServer());

    EXPECT_EQ(fits.Ask("NETVER"), "1.3");
}

TEST_F(NutServerTest, SixteenConnectionsFromOneAddressAndNoMore) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<Client>(port));
        ASSERT_EQ(clients.back()->Ask("NETVER"), "1.3") << i;
    }
    Client extra(port);
    EXPECT_TRUE(extra.ClosedByServer());
    // Another address still gets in, and the first gets a place back when one goes.
    Client neighbour(port, "127.0.0.2");
    EXPECT_EQ(neighbour.Ask("NETVER"), "1.3");
    clients.front()->Close();
    EXPECT_TRUE(Eventually([&] {
        Client again(port);
        return again.Ask("NETVER") == "1.3";
    }));
}

// The loopback address of the i-th of many peers.
std::string PeerAddress(int group, std::size_t i) {
    return "127." + std::to_string(group + i / 250) + "." + std::to_string(1 + i % 250) + ".1";
}

TEST_F(NutServerTest, EveryPlaceTakenLeavesRoomForAnotherMachine) {
    constexpr std::size_t kAll = NutServer::kMaxConnections;
    std::vector<std::unique_ptr<Client>> clients;
    for (std::size_t i = 0; i < kAll; ++i) {
        const std::string from = "127.0.1." + std::to_string(1 + i / NutServer::kMaxPerAddress);
        clients.push_back(std::make_unique<Client>(port, from.c_str()));
        ASSERT_EQ(clients.back()->Ask("NETVER"), "1.3") << i;
    }
    // All of them are heard from again but one: that one is the place its address gives up.
    for (std::size_t i = 0; i < kAll; ++i) {
        if (i == 5) continue;
        ASSERT_EQ(clients[i]->Ask("NETVER"), "1.3") << i;
    }
    // A machine of its own gets in, though a few addresses fill the server...
    Client newcomer(port, "127.0.2.1");
    EXPECT_EQ(newcomer.Ask("NETVER"), "1.3");
    EXPECT_TRUE(clients[5]->ClosedByServer());
    EXPECT_EQ(clients[6]->Ask("NETVER"), "1.3");
    // ...while one of the crowded addresses cannot have more than it holds.
    Client extra(port, "127.0.1.1");
    EXPECT_TRUE(extra.ClosedByServer());
}

TEST_F(NutServerTest, ALoneConnectionOfAnAddressIsNeverGivenUpForAnother) {
    constexpr std::size_t kAll = NutServer::kMaxConnections;
    std::vector<std::unique_ptr<Client>> clients;
    for (std::size_t i = 0; i < kAll; ++i) {
        clients.push_back(std::make_unique<Client>(port, PeerAddress(20, i).c_str()));
        ASSERT_EQ(clients.back()->Ask("NETVER"), "1.3") << i;
    }
    Client extra(port, "127.0.4.1");
    EXPECT_TRUE(extra.ClosedByServer());
    for (std::size_t i = 0; i < kAll; ++i) EXPECT_EQ(clients[i]->Ask("NETVER"), "1.3") << i;
}

TEST_F(NutServerTest, AClientThatDoesNotReadItsRepliesIsDropped) {
    Client greedy(port, "127.0.0.1", 4096);
    std::string burst;
    for (int i = 0; i < 100; ++i) burst += "LIST VAR ups\n";
    bool dropped = false;
    for (int i = 0; i < 5000 && !dropped; ++i) dropped = !greedy.Send(burst);
    EXPECT_TRUE(dropped || greedy.ClosedByServer());
    Client polite(port);
    EXPECT_EQ(polite.Ask("NETVER"), "1.3");
}

TEST_F(NutServerTest, FsdFromTheGrantedPrimaryReachesTheAgent) {
    Client c(port);
    ASSERT_EQ(c.Ask("USERNAME admin"), "OK");
    ASSERT_EQ(c.Ask("PASSWORD s3cret"), "OK");
    ASSERT_EQ(c.Ask("FSD ups"), "ERR ACCESS-DENIED");
    EXPECT_EQ(fsdCalls.load(), 0);
    ASSERT_EQ(c.Ask("PRIMARY ups"), "OK PRIMARY-GRANTED");
    EXPECT_EQ(c.Ask("FSD ups"), "OK FSD-SET");
    EXPECT_EQ(fsdCalls.load(), 1);
}

TEST_F(NutServerTest, GuessesAfterTheThirdAreAnsweredAfterAPause) {
    auto guess = [&](const char* password) {
        Client c(port);
        c.Ask("USERNAME admin");
        c.Ask(std::string("PASSWORD ") + password);
        const auto start = Clock::now();
        const std::string reply = c.Ask("PRIMARY ups");
        return std::make_pair(reply, Clock::now() - start);
    };
    for (int i = 0; i < 3; ++i) {
        const auto [reply, took] = guess("wrong");
        EXPECT_EQ(reply, "ERR ACCESS-DENIED");
        EXPECT_LT(took, 900ms) << i;
    }
    const auto [reply, took] = guess("wrong");
    EXPECT_EQ(reply, "ERR ACCESS-DENIED");
    EXPECT_GE(took, 900ms);
    // The right password is never held up, and it clears the count.
    EXPECT_EQ(guess("s3cret").first, "OK PRIMARY-GRANTED");
    EXPECT_LT(guess("wrong").second, 900ms);
}

TEST_F(NutServerTest, GuessesSpreadOverConnectionsStillGetOneReplyASecond) {
    std::vector<std::unique_ptr<Client>> guessers;
    for (int i = 0; i < 6; ++i) {
        guessers.push_back(std::make_unique<Client>(port));
        ASSERT_EQ(guessers.back()->Ask("USERNAME admin"), "OK");
        ASSERT_EQ(guessers.back()->Ask("PASSWORD guess" + std::to_string(i)), "OK");
    }
    for (int i = 0; i < 3; ++i) ASSERT_EQ(guessers[i]->Ask("PRIMARY ups"), "ERR ACCESS-DENIED");
    // Three more at once, from three connections: their answers come a second apart.
    const auto start = Clock::now();
    for (int i = 3; i < 6; ++i) guessers[i]->Send("PRIMARY ups\n");
    // Meanwhile the others of that address are served as usual.
    EXPECT_EQ(guessers[0]->Ask("NETVER"), "1.3");
    EXPECT_LT(Clock::now() - start, 900ms);
    for (int i = 3; i < 6; ++i) EXPECT_EQ(guessers[i]->Line(), "ERR ACCESS-DENIED") << i;
    EXPECT_GE(Clock::now() - start, 2900ms);
}

TEST_F(NutServerTest, GuessesFromManyAddressesAreStillPacedInAll) {
    // Each from an address of its own, as whoever holds 127.0.0.0/8 or an IPv6 /64 can do.
    int next = 1;
    auto guesser = [&] {
        const std::string from = "127.0.5." + std::to_string(next++);
        auto c = std::make_unique<Client>(port, from.c_str());
        EXPECT_EQ(c->Ask("USERNAME admin"), "OK");
        EXPECT_EQ(c->Ask("PASSWORD guess"), "OK");
        return c;
    };
    const auto burst = Clock::now();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(guesser()->Ask("PRIMARY ups"), "ERR ACCESS-DENIED");
    ASSERT_LT(Clock::now() - burst, 900ms) << "the budget's burst is answered at once";
    std::vector<std::unique_ptr<Client>> late;
    for (int i = 0; i < 3; ++i) late.push_back(guesser());
    const auto start = Clock::now();
    for (auto& c : late) c->Send("PRIMARY ups\n");
    // The right password is not held up by them.
    Client admin(port, "127.0.6.1");
    admin.Ask("USERNAME admin");
    admin.Ask("PASSWORD s3cret");
    EXPECT_EQ(admin.Ask("PRIMARY ups"), "OK PRIMARY-GRANTED");
    EXPECT_LT(Clock::now() - start, 900ms);
    for (auto& c : late) EXPECT_EQ(c->Line(), "ERR ACCESS-DENIED");
    EXPECT_GE(Clock::now() - start, 2900ms) << "one refusal a second once the budget is spent";
    // The budget comes back with time.
    std::this_thread::sleep_for(1500ms);
    const auto again = Clock::now();
    EXPECT_EQ(guesser()->Ask("PRIMARY ups"), "ERR ACCESS-DENIED");
    EXPECT_LT(Clock::now() - again, 900ms);
}

TEST_F(NutServerTest, RunningOutOfDescriptorsDoesNotSpinTheServer) {
    Client waiting(port);
    ASSERT_EQ(waiting.Ask("NETVER"), "1.3");
    // The late client's socket is made first; then the process may have no more descriptors,
    // so the server's accept of it fails until the limit is lifted.
    Client late(port, "127.0.0.1", 0, false);
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool connected = late.Connect();

    timespec before{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    std::this_thread::sleep_for(500ms);
    timespec after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
    const double cpu = static_cast<double>(after.tv_sec - before.tv_sec) +
                       static_cast<double>(after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(cpu, 0.2) << "the server retried its accept without a pause";

    ASSERT_TRUE(connected);
    EXPECT_EQ(late.Ask("NETVER"), "1.3");
    EXPECT_EQ(waiting.Ask("NETVER"), "1.3");
}

TEST(NutServerIpv6Test, ListensOnIpv6AndNamesItsClientsSo) {
    SnapshotBoard board;
    NutServer server(board, {}, {});
    std::string problem;
    if (!server.Start(Listener{true, "::1", 0}, problem)) GTEST_SKIP() << problem;
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(server.Port());
    to.sin6_addr = in6addr_loopback;
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string request = "USERNAME u\nPASSWORD p\nLOGIN ups\nLIST CLIENT ups\n";
    ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    const std::string expected =
        "OK\nOK\nOK\nBEGIN LIST CLIENT ups\nCLIENT ups ::1\nEND LIST CLIENT ups\n";
    std::string got;
    const auto until = Clock::now() + 5s;
    while (got.size() < expected.size() && Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char chunk[512];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        got.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    EXPECT_EQ(got, expected);
}

TEST_F(NutServerTest, StopsQuicklyWithClientsConnected) {
    Client loggedIn(port);
    loggedIn.Ask("USERNAME mon");
    loggedIn.Ask("PASSWORD pw");
    ASSERT_EQ(loggedIn.Ask("LOGIN ups"), "OK");
    Client halfway(port);
    halfway.Send("GET VAR ups");  // no line end yet
    Client guessing(port);
    guessing.Ask("USERNAME admin");
    guessing.Ask("PASSWORD no");
    for (int i = 0; i < 3; ++i) guessing.Ask("PRIMARY ups");
    guessing.Send("PRIMARY ups\n");  // its reply waits a second
    std::this_thread::sleep_for(50ms);

    const auto start = Clock::now();
    server.reset();
    EXPECT_LT(Clock::now() - start, 900ms);
    EXPECT_TRUE(loggedIn.ClosedByServer());
    EXPECT_TRUE(halfway.ClosedByServer());
    EXPECT_TRUE(guessing.ClosedByServer());
    Client late(port);
    EXPECT_FALSE(late.Connected());
}

}  // namespace
}  // namespace torvane::watch
