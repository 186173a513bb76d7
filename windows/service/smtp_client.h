// The mail client of the alerts: one plain SMTP conversation per recipient (HELO, MAIL FROM,
// RCPT TO, DATA, QUIT). The conversation runs over a small transport so that it can be driven
// by a scripted server in tests; the real transport is a TCP socket on Asio in which every wait
// has a deadline, because an alert must never hang on a mail server that stopped answering.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace torvane {

class SmtpTransport {
  public:
    using Clock = std::chrono::steady_clock;
    enum class Status { kOk, kClosed, kTimeout, kError };
    struct ReadResult {
        Status status = Status::kError;
        std::size_t bytes = 0;  // only with kOk, never 0 then
    };

    virtual ~SmtpTransport() = default;
    // Connects to `server` (a dotted address or a host name) on `port`.
    virtual bool Connect(const std::string& server, std::uint16_t port,
                         Clock::time_point deadline) = 0;
    // Writes all of `data`.
    virtual bool Write(std::string_view data, Clock::time_point deadline) = 0;
    // Reads what has arrived, at most `size` bytes, waiting for at least one.
    virtual ReadResult Read(char* buffer, std::size_t size, Clock::time_point deadline) = 0;
    virtual void Close() = 0;
};

// A TCP transport on Asio; name resolution and every socket wait end at their deadline.
std::unique_ptr<SmtpTransport> MakeTcpSmtpTransport();

// The system's name for this computer, which the mail says it comes from.
std::string LocalHostName();

class CSmtpClient {
  public:
    struct Options {
        std::uint16_t port = 25;
        // Each step (connect, one write, one whole reply) must end within this time.
        std::chrono::milliseconds stepTimeout = std::chrono::seconds(30);
        // Empty: the system's host name.
        std::string localHost;
    };
    // A reply line longer than this, or a reply of more lines, is refused: a server cannot make
    // us collect text without end. 512 is the longest line SMTP allows, line end included.
    static constexpr std::size_t kMaxReplyLine = 512;
    static constexpr std::size_t kMaxReplyLines = 64;

    explicit CSmtpClient(std::string server);
    CSmtpClient(std::string server, Options options,
                std::unique_ptr<SmtpTransport> transport = MakeTcpSmtpTransport());
    ~CSmtpClient();
    CSmtpClient(const CSmtpClient&) = delete;
    CSmtpClient& operator=(const CSmtpClient&) = delete;

    // One mail to one recipient: true when the server accepted it and said goodbye.
    bool SendMail(const std::string& recipient, const std::string& subject,
                  const std::string& body);

    // Why the last SendMail failed, for the trace ("" after a success).
    const std::string& LastError() const { return lastError_; }
    const std::string& Server() const { return server_; }
    const std::string& Recipient() const { return recipient_; }
    const std::string& Subject() const { return subject_; }
    const std::string& Body() const { return body_; }

  private:
    bool Converse();
    bool Step(std::string_view command, std::string_view expected);
    bool Expect(std::string_view expected);
    // Reads one whole reply (all its "ddd-" continuation lines) and returns its code in `code`.
    bool ReadReply(std::string& code);
    bool ReadLine(std::string& line, SmtpTransport::Clock::time_point deadline);
    bool Fail(std::string why);

    std::string server_;
    std::string recipient_;
    std::string subject_;
    std::string body_;
    Options options_;
    std::unique_ptr<SmtpTransport> transport_;
    std::string pending_;  // received bytes after the last line taken
    std::string lastError_;
};

}  // namespace torvane
