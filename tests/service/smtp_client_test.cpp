#include "smtp_client.h"

#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace torvane {
namespace {

using Status = SmtpTransport::Status;

// A mail server as a script of what each receive gets; what the client writes is kept.
// When the script runs out the server has hung up.
struct Script {
    struct Chunk {
        Status status = Status::kOk;
        std::string bytes;
    };
    std::deque<Chunk> chunks;
    std::string written;
    bool connectFails = false;
    int connects = 0;
    int reads = 0;
    std::size_t largestRead = 0;
    std::string endless;  // when set, every read gets as much of it as asked for, for ever
    std::size_t endlessAt = 0;
    bool closed = false;
};

class ScriptedTransport final : public SmtpTransport {
  public:
    explicit ScriptedTransport(Script& script) : s_(script) {}
    bool Connect(const std::string&, std::uint16_t, Clock::time_point) override {
        ++s_.connects;
        return !s_.connectFails;
    }
    bool Write(std::string_view data, Clock::time_point) override {
        s_.written.append(data);
        return true;
    }
    ReadResult Read(char* buffer, std::size_t size, Clock::time_point) override {
        ++s_.reads;
        s_.largestRead = std::max(s_.largestRead, size);
        if (!s_.endless.empty()) {
            for (std::size_t i = 0; i < size; ++i)
                buffer[i] = s_.endless[s_.endlessAt++ % s_.endless.size()];
            return {Status::kOk, size};
        }
        if (s_.chunks.empty()) return {Status::kClosed, 0};
        auto& chunk = s_.chunks.front();
        if (chunk.status != Status::kOk) {
            const Status st = chunk.status;
            s_.chunks.pop_front();
            return {st, 0};
        }
        const std::size_t n = std::min(size, chunk.bytes.size());
        std::memcpy(buffer, chunk.bytes.data(), n);
        chunk.bytes.erase(0, n);
        if (chunk.bytes.empty()) s_.chunks.pop_front();
        return {Status::kOk, n};
    }
    void Close() override { s_.closed = true; }

  private:
    Script& s_;
};

CSmtpClient MakeClient(Script& script) {
    CSmtpClient::Options options;
    options.localHost = "ups-host";
    return CSmtpClient("mail.example.org", options, std::make_unique<ScriptedTransport>(script));
}

void Say(Script& s, std::string text) {
    s.chunks.push_back({Status::kOk, std::move(text)});
}

// The replies of a server that takes the mail.
void Willing(Script& s) {
    for (const char* reply : {"250 hello\r\n", "250 sender ok\r\n", "250 recipient ok\r\n",
                              "354 go ahead\r\n", "250 queued\r\n", "221 bye\r\n"})
        Say(s, reply);
}

const std::string kConversation =
    "HELO ups-host\r\n"
    "MAIL FROM:<ups-host>\r\n"
    "RCPT TO:<admin@example.org>\r\n"
    "DATA\r\n"
    "From: UPS[Host:ups-host]\r\n"
    "To: <admin@example.org>\r\n"
    "Subject:Attention! Utility Power Failure!\r\n"
    "\r\n"
    " Attention! Utility Power Failure!\r\n"
    ".\r\n"
    "QUIT\r\n";

bool SendKindZero(CSmtpClient& client) {
    return client.SendMail("admin@example.org", "Attention! Utility Power Failure!",
                           "Attention! Utility Power Failure!");
}

TEST(SmtpConversation, WritesEveryLineOfTheMailAndSucceedsOnGoodbye) {
    Script s;
    Say(s, "220 mail.example.org ready\r\n");
    Willing(s);
    auto client = MakeClient(s);
    EXPECT_TRUE(SendKindZero(client)) << client.LastError();
    EXPECT_EQ(s.written, kConversation);
    EXPECT_TRUE(s.closed);
}

TEST(SmtpConversation, ReadsGreetingContinuationLinesAsOneReply) {
    // All in one receive, and again cut at awkward places: either way the greeting is one reply
    // and the HELO reply is not mistaken for part of it.
    for (const std::vector<std::string>& pieces :
         {std::vector<std::string>{"220-mail.example.org\r\n220-no spam\r\n220 ready\r\n"},
          std::vector<std::string>{"22", "0-mail.exa", "mple.org\r", "\n220 re", "ady\r\n"}}) {
        Script s;
        for (const auto& p : pieces) Say(s, p);
        Willing(s);
        auto client = MakeClient(s);
        EXPECT_TRUE(SendKindZero(client)) << client.LastError();
        EXPECT_EQ(s.written, kConversation);
    }
}

TEST(SmtpConversation, MultiLineReplyToAStepIsReadWhole) {
    Script s;
    Say(s, "220 ready\r\n");
    Say(s, "250-mail.example.org\r\n250-SIZE 1000\r\n250 HELP\r\n");
    for (const char* reply :
         {"250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n", "221 bye\r\n"})
        Say(s, reply);
    auto client = MakeClient(s);
    EXPECT_TRUE(SendKindZero(client)) << client.LastError();
    EXPECT_EQ(s.written, kConversation);
}

TEST(SmtpConversation, WrongReplyAtAnyStepEndsTheMailThere) {
    const std::vector<std::string> good = {"220 hi\r\n", "250 hello\r\n", "250 ok\r\n",
                                           "250 ok\r\n", "354 go\r\n",    "250 queued\r\n"};
    const std::vector<std::string> sentBefore = {"HELO", "MAIL", "RCPT", "DATA", "From:", "QUIT"};
    // Step 0 to 4: the mail fails and nothing after the refused step is sent.
    for (std::size_t step = 0; step < 5; ++step) {
        Script s;
        for (std::size_t i = 0; i < step; ++i) Say(s, good[i]);
        Say(s, "554 no\r\n");
        auto client = MakeClient(s);
        EXPECT_FALSE(SendKindZero(client)) << "step " << step;
        EXPECT_EQ(s.written.find(sentBefore[step]), std::string::npos) << "step " << step;
        EXPECT_TRUE(s.closed);
    }
}

TEST(SmtpConversation, ServerThatHangsUpIsAFailedMail) {
    // A hang-up at the greeting, after HELO, and right after the data was sent.
    for (std::size_t replies : {0u, 2u, 5u}) {
        Script s;
        Say(s, "220 hi\r\n");
        Willing(s);
        s.chunks.resize(replies);
        auto client = MakeClient(s);
        EXPECT_FALSE(SendKindZero(client)) << replies << " replies";
        EXPECT_EQ(client.LastError(), "the server closed the connection");
    }
}

TEST(SmtpConversation, AcceptedMailStaysSentWhenTheGoodbyeGoesWrong) {
    // The server took responsibility for the mail with its 250 after the data.
    for (const char* last : {"", "500 what\r\n"}) {
        Script s;
        Say(s, "220 hi\r\n");
        Willing(s);
        s.chunks.pop_back();
        if (*last) Say(s, last);
        auto client = MakeClient(s);
        EXPECT_TRUE(SendKindZero(client));
        EXPECT_EQ(s.written, kConversation);
    }
}

TEST(SmtpConversation, TimeoutOrReadErrorIsAFailedMail) {
    for (Status st : {Status::kTimeout, Status::kError}) {
        Script s;
        Say(s, "220 hi\r\n");
        s.chunks.push_back({st, {}});
        auto client = MakeClient(s);
        EXPECT_FALSE(SendKindZero(client));
        EXPECT_EQ(s.written, "HELO ups-host\r\n");
    }
}

TEST(SmtpConversation, EndlessLineIsRefusedAfterOneBoundedRead) {
    Script s;
    s.endless = "x";
    auto client = MakeClient(s);
    EXPECT_FALSE(SendKindZero(client));
    EXPECT_EQ(client.LastError(), "reply line too long");
    EXPECT_LE(s.largestRead, CSmtpClient::kMaxReplyLine);
    EXPECT_LE(s.reads, 2);
}

TEST(SmtpConversation, EndlessContinuationIsRefused) {
    Script s;
    s.endless = "220-more\r\n";
    auto client = MakeClient(s);
    EXPECT_FALSE(SendKindZero(client));
    EXPECT_EQ(client.LastError(), "reply of too many lines");
    EXPECT_LT(s.reads, 100);
}

TEST(SmtpConversation, NoRecipientOrNoConnectionSendsNothing) {
    {
        Script s;
        auto client = MakeClient(s);
        EXPECT_FALSE(client.SendMail("", "t", "t"));
        EXPECT_FALSE(client.SendMail("a@x\r\nRCPT TO:<b@y>", "t", "t"));
        EXPECT_EQ(s.connects, 0);
    }
    {
        Script s;
        s.connectFails = true;
        auto client = MakeClient(s);
        EXPECT_FALSE(SendKindZero(client));
        EXPECT_TRUE(s.written.empty());
        EXPECT_TRUE(s.closed);
    }
}

TEST(SmtpConversation, TextCannotEndTheMailEarlyOrAddHeaders) {
    Script s;
    Say(s, "220 hi\r\n");
    Willing(s);
    auto client = MakeClient(s);
    EXPECT_TRUE(client.SendMail("a@x", "Power\r\nBcc: b@y", ".first\n.\r\nRCPT TO:<b@y>"));
    const std::string mail = s.written.substr(s.written.find("From:"));
    EXPECT_EQ(mail,
              "From: UPS[Host:ups-host]\r\nTo: <a@x>\r\nSubject:Power  Bcc: b@y\r\n\r\n"
              " .first\r\n..\r\nRCPT TO:<b@y>\r\n.\r\nQUIT\r\n");
}

// The real transport against sockets of the test's own.

class SilentServer {
  public:
    SilentServer() : acceptor_(context_, {asio::ip::make_address("127.0.0.1"), 0}) {}
    std::uint16_t Port() const { return acceptor_.local_endpoint().port(); }
    // Accepts one connection, sends `greeting` and then keeps it open without a word,
    // or hangs up after reading one command when `hangUp` is set.
    void Serve(std::string greeting, bool hangUp) {
        thread_ = std::thread([this, greeting, hangUp] {
            asio::error_code ec;
            asio::ip::tcp::socket socket(context_);
            acceptor_.accept(socket, ec);
            if (ec) return;
            asio::write(socket, asio::buffer(greeting), ec);
            char buffer[256];
            socket.read_some(asio::buffer(buffer), ec);
            if (hangUp) return;
            socket.read_some(asio::buffer(buffer), ec);  // until the client gives up
        });
    }
    ~SilentServer() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    asio::io_context context_;
    asio::ip::tcp::acceptor acceptor_;
    std::thread thread_;
};

CSmtpClient TcpClient(std::uint16_t port, std::chrono::milliseconds timeout) {
    CSmtpClient::Options options;
    options.port = port;
    options.stepTimeout = timeout;
    options.localHost = "ups-host";
    return CSmtpClient("127.0.0.1", options);
}

TEST(SmtpTcp, SilentServerTimesOut) {
    SilentServer server;
    server.Serve("220 hi\r\n", false);
    auto client = TcpClient(server.Port(), std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SendKindZero(client));
    EXPECT_EQ(client.LastError(), "no reply in time");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SmtpTcp, ServerThatHangsUpAfterHeloFails) {
    SilentServer server;
    server.Serve("220-hi\r\n220 there\r\n", true);
    auto client = TcpClient(server.Port(), std::chrono::seconds(5));
    EXPECT_FALSE(SendKindZero(client));
    EXPECT_EQ(client.LastError(), "the server closed the connection");
}

TEST(SmtpTcp, RefusedConnectionOrUnknownHostFails) {
    std::uint16_t port;
    {
        SilentServer closed;  // a port nobody listens on once this is gone
        port = closed.Port();
    }
    auto client = TcpClient(port, std::chrono::seconds(5));
    EXPECT_FALSE(SendKindZero(client));
    CSmtpClient::Options options;
    options.stepTimeout = std::chrono::seconds(5);
    CSmtpClient unknown("no-such-host.invalid", options);
    EXPECT_FALSE(SendKindZero(unknown));
}

}  // namespace
}  // namespace torvane
