#include "watch/notify/secure_mail.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "local_server.h"
#include "watch/notify/notify_detail.h"

namespace torvane::watch {
namespace {

using namespace std::chrono_literals;
using namespace notify_detail;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using Clock = std::chrono::steady_clock;

TEST(MailText, HasTheHeadersAndCrLfLines) {
    const std::string m =
        MailMessage("torvane@nas", "ops@example.com", "Power", "one\ntwo\r\n.three", 1'765'412'858);
    EXPECT_THAT(m, HasSubstr("Date: Thu, 11 Dec 2025 00:27:38 +0000\r\n"));
    EXPECT_THAT(m, HasSubstr("From: <torvane@nas>\r\n"));
    EXPECT_THAT(m, HasSubstr("To: <ops@example.com>\r\n"));
    EXPECT_THAT(m, HasSubstr("Subject: Power\r\n"));
    EXPECT_THAT(m, HasSubstr("Message-ID: <1765412858."));
    EXPECT_TRUE(m.ends_with("\r\n\r\none\r\ntwo\r\n.three\r\n")) << m;
}

TEST(MailText, ALineBreakInTheSubjectOrAddressMakesNoHeader) {
    const std::string m =
        MailMessage("torvane@nas", "a@b.c\r\nBcc: spy@evil", "Hi\r\nBcc: x@evil\n", "body", 0);
    const std::string head = m.substr(0, m.find("\r\n\r\n") + 2);
    EXPECT_THAT(head, Not(HasSubstr("\r\nBcc:")));
    EXPECT_THAT(head, HasSubstr("Subject: Hi  Bcc: x@evil \r\n"));
    EXPECT_THAT(head, HasSubstr("To: <a@b.c  Bcc: spy@evil>\r\n"));
    // Only CRLF pairs, and only as line ends.
    std::size_t lines = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(head[i - 1], '\r');
            ++lines;
        } else if (head[i] == '\r') {
            ASSERT_LT(i + 1, head.size());
            EXPECT_EQ(head[i + 1], '\n');
        }
    }
    EXPECT_EQ(lines, 7u);
}

// A scripted SMTP server without TLS: it offers AUTH, and STARTTLS only when asked to (it can
// not do it, so a client that asks for it gets a refusal).
class SmtpServer {
  public:
    explicit SmtpServer(bool greet = true)
        : greet_(greet), server_([this](test_servers::Connection& c) { Serve(c); }) {}
    std::string Address() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
    std::vector<std::string> Commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    std::string Data() {
        std::lock_guard lock(mutex_);
        return data_;
    }

  private:
    void Serve(test_servers::Connection& c) {
        if (!greet_) {
            c.Hold();
            return;
        }
        c.Write("220 test ESMTP\r\n");
        for (;;) {
            if (!c.ReadUntil("\r\n")) return;
            std::string line = c.Take("\r\n");
            line.resize(line.size() - 2);
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            }
            const std::string verb = line.substr(0, 4);
            if (verb == "EHLO") {
                c.Write("250-test\r\n250-AUTH PLAIN LOGIN\r\n250 SIZE 100000\r\n");
            } else if (verb == "AUTH") {
                if (line == "AUTH PLAIN") {  // the credentials come on a line of their own
                    c.Write("334 \r\n");
                    if (!c.ReadUntil("\r\n")) return;
                    std::string answer = c.Take("\r\n");
                    answer.resize(answer.size() - 2);
                    std::lock_guard lock(mutex_);
                    commands_.back() += " " + answer;
                }
                c.Write("235 2.7.0 ok\r\n");
            } else if (verb == "MAIL" || verb == "RCPT") {
                c.Write("250 ok\r\n");
            } else if (verb == "DATA") {
                c.Write("354 go\r\n");
                if (!c.ReadUntil("\r\n.\r\n")) return;
                std::lock_guard lock(mutex_);
                data_ = c.Take("\r\n.\r\n");
                c.Write("250 queued\r\n");
            } else if (verb == "QUIT") {
                c.Write("221 bye\r\n");
                return;
            } else {
                c.Write("502 no\r\n");
            }
        }
    }

    bool greet_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::string data_;
    test_servers::LocalServer server_;
};

std::vector<std::string> Verbs(const std::vector<std::string>& commands) {
    std::vector<std::string> verbs;
    for (const auto& c : commands) verbs.push_back(c.substr(0, 4));
    return verbs;
}

TEST(SecureMail, LogsInAndSendsOneMailToOneRecipient) {
    SmtpServer server;
    MailSecurity security;
    security.user = "ops";
    security.password = "pw";
    const auto mailer = MakeSecureMailer(security, 2s);
    EXPECT_TRUE(mailer(server.Address(), " a@b.c ", "Power\r\nBcc: x@evil", "gone\n.dot line"));
    const auto commands = server.Commands();
    ASSERT_THAT(Verbs(commands), ElementsAre("EHLO", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"));
    EXPECT_EQ(commands[0], "EHLO " + ThisHostName());
    // base64("\0ops\0pw")
    EXPECT_EQ(commands[1], "AUTH PLAIN AG9wcwBwdw==");
    EXPECT_THAT(commands[2], HasSubstr("MAIL FROM:<torvane@" + ThisHostName() + ">"));
    EXPECT_EQ(commands[3], "RCPT TO:<a@b.c>");
    const std::string data = server.Data();
    EXPECT_THAT(data, HasSubstr("Subject: Power  Bcc: x@evil\r\n"));
    EXPECT_THAT(data, Not(HasSubstr("\r\nBcc:")));
    EXPECT_THAT(data, HasSubstr("To: <a@b.c>\r\n"));
    // The transport stuffs the dot of a line that begins with one.
    EXPECT_TRUE(data.ends_with("\r\n\r\ngone\r\n..dot line\r\n.\r\n")) << data;
}

TEST(SecureMail, StartTlsIsRequiredNotTried) {
    SmtpServer server;  // offers no STARTTLS
    MailSecurity security;
    security.tls = MailSecurity::Tls::kStartTls;
    security.user = "ops";
    security.password = "pw";
    const auto mailer = MakeSecureMailer(security, 2s);
    EXPECT_FALSE(mailer(server.Address(), "a@b.c", "s", "b"));
    for (const auto& verb : Verbs(server.Commands())) {
        EXPECT_NE(verb, "AUTH");
        EXPECT_NE(verb, "MAIL");
    }
    EXPECT_TRUE(server.Data().empty());
}

TEST(SecureMail, AServerThatNeverAnswersFailsWithinTheSteps) {
    SmtpServer server(false);
    MailSecurity security;
    security.user = "u";
    security.password = "p";
    const auto mailer = MakeSecureMailer(security, 200ms);
    const auto before = Clock::now();
    EXPECT_FALSE(mailer(server.Address(), "a@b.c", "s", "b"));
    EXPECT_LT(Clock::now() - before, 3s);
}

TEST(SecureMail, AStopEndsAMailToAServerThatNeverAnswers) {
    SmtpServer server(false);
    MailSecurity security;
    security.tls = MailSecurity::Tls::kStartTls;
    security.user = "u";
    security.password = "p";
    std::atomic<bool> stop{false};
    // The agent's own step time: without the stop, this mail would wait for minutes.
    const auto mailer = MakeSecureMailer(security, 30s, &stop);
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = true;
    });
    const auto before = Clock::now();
    EXPECT_FALSE(mailer(server.Address(), "a@b.c", "s", "b"));
    EXPECT_LT(Clock::now() - before, 3s);
    stopper.join();
    // Once stopped, nothing more is tried.
    const auto after = Clock::now();
    EXPECT_FALSE(mailer(server.Address(), "a@b.c", "s", "b"));
    EXPECT_LT(Clock::now() - after, 500ms);
}

TEST(SecureMail, ABadServerTextIsRefused) {
    MailSecurity security;
    security.tls = MailSecurity::Tls::kStartTls;
    const auto mailer = MakeSecureMailer(security, 200ms);
    EXPECT_FALSE(mailer("host:99999", "a@b.c", "s", "b"));
    EXPECT_FALSE(mailer("127.0.0.1:1", "", "s", "b"));
}

}  // namespace
}  // namespace torvane::watch
