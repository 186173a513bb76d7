// The server over real loopback sockets: keep-alive, pipelining, the limits of size, count and
// time. The times are the test's own (Limits), a few hundred milliseconds, not the 10 s the agent
// gives a client.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "watch/http/http_service.h"
#include "watch/http/metrics_server.h"
#include "watch/status_json.h"

namespace torvane::watch::http {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// A blocking client from a loopback address of its choice, every wait bounded.
class Client {
  public:
    Client(std::uint16_t port, const std::string& from = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            ADD_FAILURE() << "bind " << from;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            ADD_FAILURE() << "connect";
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Client() { ::close(fd_); }
    void ShutdownSending() { ::shutdown(fd_, SHUT_WR); }

    void Send(const std::string& bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const auto n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return;  // the server may have closed: the reading tells
            at += static_cast<std::size_t>(n);
        }
    }

    // Bytes as they come, or nothing once the server closed (or after `wait`).
    std::optional<std::string> Some(std::chrono::milliseconds wait = 5000ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
            timedOut_ = true;
            return std::nullopt;
        }
        char buffer[65536];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }

    // One whole response (its body by Content-Length; none for HEAD).
    std::optional<Reply> Read(bool head = false) {
        while (true) {
            const auto end = in_.find("\r\n\r\n");
            if (end != std::string::npos) {
                Reply r;
                std::string lines = in_.substr(0, end + 2);
                const auto first = lines.find("\r\n");
                const std::string status = lines.substr(0, first);
                EXPECT_EQ(status.substr(0, 9), "HTTP/1.1 ") << status;
                r.status = std::stoi(status.substr(9, 3));
                lines.erase(0, first + 2);
                while (!lines.empty()) {
                    const auto eol = lines.find("\r\n");
                    const std::string line = lines.substr(0, eol);
                    lines.erase(0, eol + 2);
                    const auto colon = line.find(':');
                    std::string name = line.substr(0, colon);
                    for (auto& c : name) c = static_cast<char>(std::tolower(c));
                    r.headers[name] = line.substr(colon + 2);
                }
                const std::size_t length = std::stoul(r.headers.at("content-length"));
                const std::size_t need = end + 4 + (head ? 0 : length);
                while (in_.size() < need) {
                    auto more = Some();
                    if (!more) return std::nullopt;
                    in_ += *more;
                }
                r.body = in_.substr(end + 4, need - end - 4);
                in_.erase(0, need);
                return r;
            }
            auto more = Some();
            if (!more) return std::nullopt;
            in_ += *more;
        }
    }

    // True when the server has closed the connection (within `wait`), having sent nothing more.
    bool Closed(std::chrono::milliseconds wait = 5000ms) {
        timedOut_ = false;
        while (auto more = Some(wait)) in_ += *more;
        return !timedOut_;
    }
    std::string Leftover() const { return in_; }

  private:
    int fd_ = -1;
    std::string in_;
    bool timedOut_ = false;
};

std::string Get(const std::string& path, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: test\r\n" + extra + "\r\n";
}

Limits TestLimits() {
    Limits l;
    l.maxConnections = 6;
    l.maxPerAddress = 3;
    l.maxRequests = 4;
    l.idle = 400ms;
    l.linger = 300ms;
    return l;
}

class ServiceTest : public ::testing::Test {
  protected:
    void Start(Limits limits = TestLimits()) {
        service_.emplace(
            context_,
            [](std::string_view path) {
                if (path == "/x") return Response{200, "text/plain", "hello"};
                return Response{404, "text/plain", "none\n"};
            },
            limits);
        std::string problem;
        ASSERT_TRUE(service_->Listen("127.0.0.1", 0, problem)) << problem;
        thread_ = std::thread([this] { context_.run(); });
    }
    void TearDown() override {
        if (thread_.joinable()) {
            asio::post(context_, [this] { service_->Close(); });
            work_.reset();
            thread_.join();
        }
    }
    std::uint16_t Port() const { return service_->Port(); }
    // Asked on the server's thread.
    std::size_t Connections() {
        std::promise<std::size_t> count;
        asio::post(context_, [&] { count.set_value(service_->Connections()); });
        return count.get_future().get();
    }
    // Waits for the server's count of connections to come to `n`.
    bool ConnectionsBecome(std::size_t n, std::chrono::milliseconds wait = 3000ms) {
        const auto until = Clock::now() + wait;
        while (Clock::now() < until) {
            if (Connections() == n) return true;
            std::this_thread::sleep_for(10ms);
        }
        return Connections() == n;
    }

    asio::io_context context_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_{
        asio::make_work_guard(context_)};
    std::optional<Service> service_;
    std::thread thread_;
};

TEST_F(ServiceTest, KeepAliveServesRequestsInTurnUpToTheLimitThenCloses) {
    Start();
    Client c(Port());
    for (int i = 1; i <= 4; ++i) {
        c.Send(Get("/x"));
        const auto r = c.Read();
        ASSERT_TRUE(r) << "request " << i;
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(r->body, "hello");
        EXPECT_EQ(r->headers.at("content-type"), "text/plain");
        EXPECT_EQ(r->headers.at("cache-control"), "no-store");
        EXPECT_EQ(r->headers.at("connection"), i < 4 ? "keep-alive" : "close") << i;
    }
    EXPECT_TRUE(c.Closed());
}

TEST_F(ServiceTest, PipelinedRequestsAreAnsweredInOrder) {
    Start();
    Client c(Port());
    c.Send(Get("/x") + Get("/nothing") + "HEAD /x HTTP/1.1\r\nHost: a\r\n\r\n");
    auto r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_EQ(r->body, "none\n");
    r = c.Read(true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->headers.at("content-length"), "5");  // the GET's length, without the body
    EXPECT_EQ(r->body, "");
    c.Send(Get("/x"));
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "hello");
    EXPECT_EQ(c.Leftover(), "");
}

TEST_F(ServiceTest, OtherMethodsGet405WithAllowAndTheConnectionStays) {
    Start();
    Client c(Port());
    c.Send("DELETE /x HTTP/1.1\r\nHost: a\r\n\r\n");
    auto r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 405);
    EXPECT_EQ(r->headers.at("allow"), "GET, HEAD");
    EXPECT_EQ(r->headers.at("connection"), "keep-alive");
    c.Send(Get("/x"));
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
}

TEST_F(ServiceTest, AMethodWithABodyGets405AndTheConnectionCloses) {
    Start();
    Client c(Port());
    c.Send("POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 4\r\n\r\nGET ");
    auto r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 405);
    EXPECT_EQ(r->headers.at("connection"), "close");
    EXPECT_TRUE(c.Closed());
}

TEST_F(ServiceTest, AGetWithABodyIsRefusedAndClosed) {
    Start();
    for (const char* header : {"Content-Length: 3\r\n", "Transfer-Encoding: chunked\r\n"}) {
        Client c(Port());
        c.Send(Get("/x", header) + "abc" + Get("/x"));
        auto r = c.Read();
        ASSERT_TRUE(r) << header;
        EXPECT_EQ(r->status, 400);
        EXPECT_EQ(r->headers.at("connection"), "close");
        EXPECT_TRUE(c.Closed());
        EXPECT_EQ(c.Leftover(), "") << "the bytes after the head were not taken for a request";
    }
}

TEST_F(ServiceTest, AnOversizedHeadGets431AndTheConnectionCloses) {
    Start();
    Client c(Port());
    // More than the limit, and more still after it: the answer must arrive all the same.
    c.Send("GET /x HTTP/1.1\r\nHost: a\r\nX-Fill: " + std::string(20 * 1024, 'f'));
    auto r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 431);
    EXPECT_EQ(r->headers.at("connection"), "close");
    EXPECT_TRUE(c.Closed());
    EXPECT_TRUE(ConnectionsBecome(0));
}

TEST_F(ServiceTest, MalformedRequestsGet400AndClose) {
    Start();
    Client c(Port());
    c.Send("GET /x HTTP/1.1\r\n\r\n");  // no Host
    auto r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_TRUE(c.Closed());
    Client v(Port());
    v.Send("GET /x HTTP/3.0\r\nHost: a\r\n\r\n");
    r = v.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 505);
}

TEST_F(ServiceTest, ConnectionCloseAndHttp10AreHonoured) {
    Start();
    {
        Client c(Port());
        c.Send(Get("/x", "Connection: close\r\n") + Get("/x"));
        auto r = c.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->headers.at("connection"), "close");
        EXPECT_TRUE(c.Closed());
        EXPECT_EQ(c.Leftover(), "") << "nothing answered after the close";
    }
    {
        Client c(Port());
        c.Send("GET /x HTTP/1.0\r\n\r\n");
        auto r = c.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->headers.at("connection"), "close");
        EXPECT_TRUE(c.Closed());
    }
    {
        Client c(Port());
        c.Send("GET /x HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
        auto r = c.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->headers.at("connection"), "keep-alive");
        c.Send("GET /x HTTP/1.0\r\n\r\n");
        r = c.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->headers.at("connection"), "close");
    }
}

TEST_F(ServiceTest, OneAddressGetsOnlyItsShareAndTheOthersStillGetIn) {
    Start();
    std::vector<std::unique_ptr<Client>> mine;
    for (int i = 0; i < 3; ++i) {
        mine.push_back(std::make_unique<Client>(Port(), "127.0.0.2"));
        mine.back()->Send(Get("/x"));
        ASSERT_TRUE(mine.back()->Read()) << i;
    }
    Client refused(Port(), "127.0.0.2");
    refused.Send(Get("/x"));
    EXPECT_TRUE(refused.Closed(2000ms));
    EXPECT_EQ(refused.Leftover(), "");
    Client other(Port(), "127.0.0.3");
    other.Send(Get("/x"));
    auto r = other.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    // The ones that got in keep working.
    for (auto& c : mine) {
        c->Send(Get("/x"));
        ASSERT_TRUE(c->Read());
    }
    // A place given back can be had again.
    mine.pop_back();
    ASSERT_TRUE(ConnectionsBecome(3));
    Client again(Port(), "127.0.0.2");
    again.Send(Get("/x"));
    EXPECT_TRUE(again.Read());
}

TEST_F(ServiceTest, AllConnectionsTogetherAreCapped) {
    Start();
    std::vector<std::unique_ptr<Client>> in;
    for (int i = 0; i < 6; ++i) {
        in.push_back(std::make_unique<Client>(Port(), "127.0.1." + std::to_string(i + 1)));
        in.back()->Send(Get("/x"));
        ASSERT_TRUE(in.back()->Read()) << i;
    }
    Client refused(Port(), "127.0.1.100");
    EXPECT_TRUE(refused.Closed(2000ms));
    for (auto& c : in) {
        c->Send(Get("/x"));
        EXPECT_TRUE(c->Read());
    }
}

TEST_F(ServiceTest, AClientSendingItsHeadSlowlyIsDroppedAtTheDeadline) {
    Start();
    Client c(Port());
    const auto start = Clock::now();
    const std::string head = Get("/x", "X-Slow: " + std::string(200, 's') + "\r\n");
    bool closed = false;
    // A byte every 20 ms: each one comes well within the deadline, the head never does.
    for (std::size_t i = 0; i < head.size() - 1 && !closed; ++i) {
        c.Send(head.substr(i, 1));
        closed = c.Closed(20ms);
    }
    const auto took = Clock::now() - start;
    EXPECT_TRUE(closed);
    EXPECT_GE(took, 350ms);
    EXPECT_LT(took, 2000ms);
    EXPECT_EQ(c.Leftover(), "");
    EXPECT_TRUE(ConnectionsBecome(0));
}

TEST_F(ServiceTest, AnIdleKeptAliveConnectionIsClosedAndAnActiveOneIsNot) {
    Start();
    Client idle(Port());
    Client busy(Port());
    idle.Send(Get("/x"));
    ASSERT_TRUE(idle.Read());
    const auto start = Clock::now();
    // The busy one asks every 150 ms: each answer gives it its time afresh.
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(150ms);
        busy.Send(Get("/x"));
        ASSERT_TRUE(busy.Read()) << i;
    }
    EXPECT_TRUE(idle.Closed(2000ms));
    EXPECT_GE(Clock::now() - start, 350ms);
    EXPECT_TRUE(ConnectionsBecome(1));
}

TEST_F(ServiceTest, AClientThatNeverReadsIsBoundedAndDropped) {
    Limits limits = TestLimits();
    limits.maxRequests = 1'000'000;
    limits.pauseReading = 4096;
    Start(limits);
    Client c(Port());
    // Asks without end and never reads: the server stops reading it once its answers pile up,
    // then drops it when they are not taken within the deadline.
    std::string many;
    for (int i = 0; i < 2000; ++i) many += Get("/x");
    std::thread sender([&] {
        for (int i = 0; i < 50; ++i) c.Send(many);  // blocks once the buffers are full
    });
    EXPECT_TRUE(ConnectionsBecome(0, 5000ms));
    sender.join();
}

TEST_F(ServiceTest, AClientThatHalfClosesStillGetsItsAnswers) {
    Start();
    Client c(Port());
    c.Send(Get("/x") + Get("/x"));
    c.ShutdownSending();  // as `printf ... | nc -N` does
    auto r = c.Read();
    ASSERT_TRUE(r);
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_TRUE(c.Closed());
    EXPECT_TRUE(ConnectionsBecome(0));
}

TEST(MetricsServer, ServesTheMetricsTheStatusAndAnIndex) {
    SnapshotBoard board;
    board.Update([](UpsSnapshot& s) {
        s.connected = true;
        s.status.rawLine = "(231.0 ...";
        s.status.inputVoltage = 2310;
        s.acFail = true;
        s.startedAt = 1'000;
        s.events[static_cast<std::size_t>(EventKind::kUtilityFailure)] = 1;
    });
    MetricsServer server(board);
    std::string problem;
    ASSERT_TRUE(server.Start(Listener{true, "127.0.0.1", 0}, problem)) << problem;
    ASSERT_NE(server.Port(), 0);
    Client c(server.Port());
    c.Send(Get("/metrics"));
    auto r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->headers.at("content-type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_NE(r->body.find("\nkelvora_ups_input_voltage_volts 231.0\n"), std::string::npos);
    EXPECT_NE(r->body.find("\nkelvora_ups_status{flag=\"OB\"} 1\n"), std::string::npos);
    EXPECT_NE(r->body.find("\nkelvora_events_total{event=\"utility_failure\"} 1\n"),
              std::string::npos);
    // The page is the snapshot's: the board's changes show in the next one.
    board.Update([](UpsSnapshot& s) { s.status.inputVoltage = 2222; });
    c.Send(Get("/metrics"));
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("\nkelvora_ups_input_voltage_volts 222.2\n"), std::string::npos);

    c.Send(Get("/status.json"));
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->headers.at("content-type"), "application/json");
    EXPECT_EQ(r->body.substr(0, 17), "{\"connected\":true");
    EXPECT_NE(r->body.find("\"input_voltage_volts\":222.2"), std::string::npos);

    c.Send(Get("/"));
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("/metrics"), std::string::npos);
    EXPECT_NE(r->body.find("/status.json"), std::string::npos);

    c.Send(Get("/metrics/"));
    r = c.Read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    c.Send("HEAD /metrics HTTP/1.1\r\nHost: a\r\n\r\n");
    r = c.Read(true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_NE(r->headers.at("content-length"), "0");
    EXPECT_EQ(r->body, "");
}

TEST(MetricsServer, AnAddressItCannotHaveIsReported) {
    SnapshotBoard board;
    MetricsServer first(board);
    std::string problem;
    ASSERT_TRUE(first.Start(Listener{true, "127.0.0.1", 0}, problem));
    MetricsServer second(board);
    EXPECT_FALSE(second.Start(Listener{true, "127.0.0.1", first.Port()}, problem));
    EXPECT_NE(problem.find(std::to_string(first.Port())), std::string::npos) << problem;
    MetricsServer third(board);
    EXPECT_FALSE(third.Start(Listener{true, "not-an-address", 0}, problem));
    EXPECT_NE(problem.find("not-an-address"), std::string::npos) << problem;
    MetricsServer off(board);
    EXPECT_FALSE(off.Start(Listener{false, "127.0.0.1", 0}, problem));
    EXPECT_EQ(off.Port(), 0);
}

TEST(MetricsServer, StoppingClosesTheConnectionsItHas) {
    SnapshotBoard board;
    auto server = std::make_unique<MetricsServer>(board);
    std::string problem;
    ASSERT_TRUE(server->Start(Listener{true, "127.0.0.1", 0}, problem));
    Client c(server->Port());
    c.Send(Get("/"));
    ASSERT_TRUE(c.Read());
    server.reset();
    EXPECT_TRUE(c.Closed(2000ms));
}

}  // namespace
}  // namespace torvane::watch::http
