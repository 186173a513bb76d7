#include "smtp_client.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <asio.hpp>

namespace torvane {

namespace {

bool SameCode(std::string_view got, std::string_view expected) {
    if (got.size() < expected.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto a = static_cast<unsigned char>(got[i]);
        const auto b = static_cast<unsigned char>(expected[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

// A line break in the subject would start a header of the sender's choosing.
std::string OneLine(std::string_view text) {
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

// The body goes out as lines ending in CR LF; a line that starts with "." gets a second one, so
// that no text can end the mail early and slip commands of its own to the server.
std::string DataLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = false;
    }
    return out;
}

}  // namespace

CSmtpClient::CSmtpClient(std::string server) : CSmtpClient(std::move(server), Options{}) {}

CSmtpClient::CSmtpClient(std::string server, Options options,
                         std::unique_ptr<SmtpTransport> transport)
    : server_(std::move(server)), options_(std::move(options)), transport_(std::move(transport)) {
    if (options_.localHost.empty()) options_.localHost = LocalHostName();
}

CSmtpClient::~CSmtpClient() = default;

bool CSmtpClient::Fail(std::string why) {
    lastError_ = std::move(why);
    return false;
}

bool CSmtpClient::SendMail(const std::string& recipient, const std::string& subject,
                           const std::string& body) {
    recipient_ = recipient;
    subject_ = subject;
    body_ = body;
    lastError_.clear();
    pending_.clear();
    if (recipient.empty()) return Fail("no recipient");
    // The address goes into the envelope as it is; a line break would end the command there.
    if (recipient.find_first_of("\r\n") != std::string::npos)
        return Fail("line break in the recipient");
    if (server_.empty()) return Fail("no server");
    const auto deadline = SmtpTransport::Clock::now() + options_.stepTimeout;
    if (!transport_->Connect(server_, options_.port, deadline)) {
        transport_->Close();
        return Fail("cannot connect to " + server_);
    }
    const bool ok = Converse();
    transport_->Close();
    return ok;
}

bool CSmtpClient::Converse() {
    const std::string& host = options_.localHost;
    if (!Expect("220")) return false;
    if (!Step("HELO " + host + "\r\n", "250")) return false;
    if (!Step("MAIL FROM:<" + host + ">\r\n", "250")) return false;
    if (!Step("RCPT TO:<" + recipient_ + ">\r\n", "250")) return false;
    if (!Step("DATA\r\n", "354")) return false;
    const std::string mail = "From: UPS[Host:" + host + "]\r\n" + "To: <" + recipient_ + ">\r\n" +
                             "Subject:" + OneLine(subject_) + "\r\n\r\n" + DataLines(" " + body_) +
                             "\r\n.\r\n";
    if (!Step(mail, "250")) return false;
    // With that 250 the server has taken the mail; a goodbye that goes wrong does not undo it.
    Step("QUIT\r\n", "221");
    lastError_.clear();
    return true;
}

bool CSmtpClient::Step(std::string_view command, std::string_view expected) {
    if (!transport_->Write(command, SmtpTransport::Clock::now() + options_.stepTimeout))
        return Fail("cannot send to the server");
    return Expect(expected);
}

bool CSmtpClient::Expect(std::string_view expected) {
    std::string code;
    if (!ReadReply(code)) return false;
    if (!SameCode(code, expected))
        return Fail("server replied " + code + " where " + std::string(expected) + " was due");
    return true;
}

bool CSmtpClient::ReadReply(std::string& code) {
    const auto deadline = SmtpTransport::Clock::now() + options_.stepTimeout;
    std::string line;
    for (std::size_t n = 0; n < kMaxReplyLines; ++n) {
        if (!ReadLine(line, deadline)) return false;
        // "250-text" says more lines follow; the last line of a reply carries its code alone.
        if (line.size() >= 4 && line[3] == '-') continue;
        code = line.substr(0, 3);
        return true;
    }
    return Fail("reply of too many lines");
}

bool CSmtpClient::ReadLine(std::string& line, SmtpTransport::Clock::time_point deadline) {
    for (;;) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            if (end + 1 > kMaxReplyLine) return Fail("reply line too long");
            line.assign(pending_, 0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending_.erase(0, end + 1);
            return true;
        }
        if (pending_.size() >= kMaxReplyLine) return Fail("reply line too long");
        char buffer[kMaxReplyLine];
        const std::size_t room = kMaxReplyLine - pending_.size();
        const auto got = transport_->Read(buffer, room, deadline);
        switch (got.status) {
            case SmtpTransport::Status::kOk:
                if (got.bytes == 0) return Fail("the server closed the connection");
                pending_.append(buffer, std::min(got.bytes, room));
                break;
            case SmtpTransport::Status::kClosed:
                return Fail("the server closed the connection");
            case SmtpTransport::Status::kTimeout:
                return Fail("no reply in time");
            case SmtpTransport::Status::kError:
                return Fail("cannot read from the server");
        }
    }
}

namespace {

using asio::ip::tcp;

// The system resolver has no deadline we can set, and Asio's own resolver thread is joined when
// its context ends, so a name that never resolves would hold the alert thread. The look-up runs
// on a thread of its own that we leave behind when the deadline passes; it ends when the
// resolver gives up.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::vector<tcp::endpoint> endpoints;
};

std::vector<tcp::endpoint> Resolve(const std::string& server, std::uint16_t port,
                                   SmtpTransport::Clock::time_point deadline) {
    asio::error_code ec;
    const auto address = asio::ip::make_address(server, ec);
    if (!ec) return {tcp::endpoint(address, port)};
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, server, port] {
        asio::io_context context;
        tcp::resolver resolver(context);
        asio::error_code error;
        const auto results = resolver.resolve(server, std::to_string(port), error);
        std::vector<tcp::endpoint> found;
        if (!error)
            for (const auto& entry : results) found.push_back(entry.endpoint());
        std::lock_guard lock(lookup->mutex);
        lookup->endpoints = std::move(found);
        lookup->done = true;
        lookup->finished.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_until(lock, deadline, [&] { return lookup->done; })) return {};
    return std::move(lookup->endpoints);
}

class TcpTransport final : public SmtpTransport {
  public:
    bool Connect(const std::string& server, std::uint16_t port,
                 Clock::time_point deadline) override {
        Close();
        const auto endpoints = Resolve(server, port, deadline);
        if (endpoints.empty()) return false;
        bool done = false;
        asio::error_code result;
        asio::async_connect(socket_, endpoints,
                            [&](const asio::error_code& ec, const tcp::endpoint&) {
                                result = ec;
                                done = true;
                            });
        return Run(done, deadline) && !result;
    }

    bool Write(std::string_view data, Clock::time_point deadline) override {
        bool done = false;
        asio::error_code result;
        asio::async_write(socket_, asio::buffer(data.data(), data.size()),
                          [&](const asio::error_code& ec, std::size_t) {
                              result = ec;
                              done = true;
                          });
        return Run(done, deadline) && !result;
    }

    ReadResult Read(char* buffer, std::size_t size, Clock::time_point deadline) override {
        bool done = false;
        asio::error_code result;
        std::size_t got = 0;
        socket_.async_read_some(asio::buffer(buffer, size),
                                [&](const asio::error_code& ec, std::size_t n) {
                                    result = ec;
                                    got = n;
                                    done = true;
                                });
        if (!Run(done, deadline)) return {Status::kTimeout, 0};
        if (result == asio::error::eof) return {Status::kClosed, 0};
        if (result) return {Status::kError, 0};
        if (got == 0) return {Status::kClosed, 0};
        return {Status::kOk, got};
    }

    void Close() override {
        asio::error_code ignored;
        if (socket_.is_open()) socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

  private:
    // Runs the operation just started until it completes or the deadline passes. At the
    // deadline the socket is closed, which completes the operation as aborted; we wait for that
    // so that no handler outlives the variables it writes.
    bool Run(const bool& done, Clock::time_point deadline) {
        context_.restart();
        context_.run_until(deadline);
        if (done) return true;
        asio::error_code ignored;
        socket_.close(ignored);
        context_.restart();
        context_.run();
        return false;
    }

    asio::io_context context_;
    tcp::socket socket_{context_};
};

}  // namespace

std::unique_ptr<SmtpTransport> MakeTcpSmtpTransport() {
    return std::make_unique<TcpTransport>();
}

std::string LocalHostName() {
    asio::error_code ec;
    std::string name = asio::ip::host_name(ec);
    if (ec || name.empty()) return "localhost";
    return name;
}

}  // namespace torvane
