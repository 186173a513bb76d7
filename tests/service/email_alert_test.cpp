#include "email_alert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alert_test_support.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/log_records.h"

namespace torvane {
namespace {

using test::RecordingLog;
using test::TraceRecorder;
using ::testing::ElementsAre;
using ::testing::Pair;

constexpr std::uint16_t kError = ups::CEventLogRecord::kError;
constexpr std::uint16_t kInfo = ups::CEventLogRecord::kInformation;

TEST(ParseMailServer, TakesAPortAfterTheHostAndKeepsPort25Otherwise) {
    using A = MailServerAddress;
    EXPECT_EQ(ParseMailServer("mail.example.org", 25), (A{"mail.example.org", 25}));
    EXPECT_EQ(ParseMailServer("10.0.0.5", 25), (A{"10.0.0.5", 25}));
    EXPECT_EQ(ParseMailServer("10.0.0.5:2525", 25), (A{"10.0.0.5", 2525}));
    EXPECT_EQ(ParseMailServer("relay:65535", 25), (A{"relay", 65535}));
    EXPECT_EQ(ParseMailServer("[::1]:2525", 25), (A{"::1", 2525}));
    EXPECT_EQ(ParseMailServer("[::1]", 25), (A{"::1", 25}));
    EXPECT_EQ(ParseMailServer("fe80::1", 25), (A{"fe80::1", 25}));
    // A port that is no port refuses the server instead of falling back to 25.
    for (const char* bad :
         {"relay:", "relay:0", "relay:65536", "relay:25x", "relay:-1", "relay: 25", ":2525", "[::1",
          "[::1]x", "[::1]:", "[]:25", "", "a b", "evil/path", "user@host"})
        EXPECT_EQ(ParseMailServer(bad, 25), std::nullopt) << bad;
}

TEST(SplitRecipients, CutsAtEverySemicolonButALeadingOne) {
    EXPECT_THAT(SplitRecipients("a@x"), ElementsAre("a@x"));
    EXPECT_THAT(SplitRecipients("a@x;b@y"), ElementsAre("a@x", "b@y"));
    EXPECT_THAT(SplitRecipients("a@x;b@y;c@z"), ElementsAre("a@x", "b@y", "c@z"));
    // A separator at the start is not one: the rest goes as one recipient, semicolon and all.
    EXPECT_THAT(SplitRecipients(";a@x;b@y"), ElementsAre(";a@x;b@y"));
    EXPECT_THAT(SplitRecipients("a@x;;b@y"), ElementsAre("a@x", ";b@y"));
    EXPECT_THAT(SplitRecipients("a@x;"), ElementsAre("a@x"));
    EXPECT_TRUE(SplitRecipients("").empty());
}

struct Call {
    std::string server, recipient, subject, body;
};

// A mailer that records its calls, fails for the recipients it is told to, and can be held
// inside a call until released.
class FakeMailer {
  public:
    Mailer AsMailer() {
        return [this](const std::string& server, const std::string& recipient,
                      const std::string& subject, const std::string& body) {
            std::unique_lock lock(mutex_);
            calls_.push_back({server, recipient, subject, body});
            changed_.notify_all();
            changed_.wait(lock, [&] { return !hold_; });
            return recipient.find("bad") == std::string::npos;
        };
    }
    void Hold() {
        std::lock_guard lock(mutex_);
        hold_ = true;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        hold_ = false;
        changed_.notify_all();
    }
    void WaitForCalls(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return calls_.size() >= n; });
    }
    std::vector<Call> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    bool hold_ = false;
};

class EmailThread : public ::testing::Test {
  protected:
    EmailThread() {
        config.mailServer = "mail.example.org";
        config.emailOn = 1;
    }
    MailSettingsSource Source() {
        return [this](int kind) {
            std::lock_guard lock(recordsMutex);
            return MailSettingsFor(config, msgTab, kind);
        };
    }
    std::mutex recordsMutex;
    ups::CConfig config;
    ups::CMsgTab msgTab;
    RecordingLog log;
    FakeMailer mailer;
};

TEST_F(EmailThread, MailsEachRecipientTheKindTextAsSubjectAndBody) {
    msgTab.address[2] = "a@x;b@y";
    CEmailAlert alert(Source(), log, mailer.AsMailer());
    alert.Start();
    alert.RaiseMailEvent(2);
    EXPECT_THAT(log.WaitFor(2),
                ElementsAre(Pair(ups::kEvMailSent, kInfo), Pair(ups::kEvMailSent, kInfo)));
    const auto calls = mailer.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].recipient, "a@x");
    EXPECT_EQ(calls[1].recipient, "b@y");
    for (const auto& c : calls) {
        EXPECT_EQ(c.server, "mail.example.org");
        EXPECT_EQ(c.subject, "Utility Power Restored");
        EXPECT_EQ(c.body, "Utility Power Restored");
    }
}

TEST_F(EmailThread, EachRecipientGetsItsOwnEntryAndALeadingSemicolonIsOneRecipient) {
    msgTab.address[0] = "bad@x;b@y";
    msgTab.address[1] = ";a@x;b@y";
    CEmailAlert alert(Source(), log, mailer.AsMailer());
    alert.Start();
    alert.RaiseMailEvent(0);
    log.WaitFor(2);
    alert.RaiseMailEvent(1);
    EXPECT_THAT(log.WaitFor(3),
                ElementsAre(Pair(ups::kEvMailFailed, kError), Pair(ups::kEvMailSent, kInfo),
                            Pair(ups::kEvMailSent, kInfo)));
    ASSERT_EQ(mailer.Calls().size(), 3u);
    EXPECT_EQ(mailer.Calls()[2].recipient, ";a@x;b@y");
}

TEST_F(EmailThread, NoServerOrNoAddressLogsOneFailureAndSendsNothing) {
    msgTab.address[0] = "a@x;b@y";  // kind 1 has no address
    CEmailAlert alert(Source(), log, mailer.AsMailer());
    alert.Start();
    alert.RaiseMailEvent(1);
    log.WaitFor(1);
    {
        std::lock_guard lock(recordsMutex);
        config.mailServer.clear();  // read when the mail goes out, not when the thread began
    }
    alert.RaiseMailEvent(0);
    EXPECT_THAT(log.WaitFor(2),
                ElementsAre(Pair(ups::kEvMailFailed, kError), Pair(ups::kEvMailFailed, kError)));
    EXPECT_TRUE(mailer.Calls().empty());
}

TEST_F(EmailThread, AlertsRaisedFasterThanMailCollapsePerKind) {
    msgTab.address[0] = "a@x";
    msgTab.address[1] = "b@y";
    CEmailAlert alert(Source(), log, mailer.AsMailer());
    mailer.Hold();
    alert.Start();
    alert.RaiseMailEvent(0);
    mailer.WaitForCalls(1);
    for (int i = 0; i < 3; ++i) alert.RaiseMailEvent(1);
    alert.RaiseMailEvent(7);   // not a kind: ignored, the thread goes on
    alert.RaiseMailEvent(-1);  // likewise
    mailer.Release();
    log.WaitFor(2);
    alert.Stop();  // the kind 1 event comes before the end event
    const auto calls = mailer.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].recipient, "a@x");
    EXPECT_EQ(calls[1].recipient, "b@y");
}

TEST_F(EmailThread, EndEventEndsTheThreadWithItsTraces) {
    TraceRecorder trace;
    {
        CEmailAlert alert(Source(), log, mailer.AsMailer());
        alert.Start();
        alert.Stop();
        alert.RaiseMailEvent(0);  // nobody listens any more
    }
    EXPECT_THAT(trace.Lines(), ElementsAre("Send Email Thread start\n", "Send Email Thread end\n"));
    EXPECT_TRUE(mailer.Calls().empty());
}

// The real client against a real mail server, started by the test.
class MailServer {
  public:
    MailServer() {
        char tmpl[] = "/tmp/torvane-smtp-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        const std::string script =
            (std::filesystem::path(__FILE__).parent_path() / "smtp_recorder.py").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/usr/bin/python3", "python3", script.c_str(), dir_.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until) {
            std::ifstream in(dir_ / "port");
            if (in >> port_) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~MailServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }
    std::uint16_t Port() const { return port_; }
    std::vector<nlohmann::json> Mails() const {
        std::vector<nlohmann::json> mails;
        std::ifstream in(dir_ / "mails.jsonl");
        for (std::string line; std::getline(in, line);)
            mails.push_back(nlohmann::json::parse(line));
        return mails;
    }

  private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

TEST(EmailEndToEnd, EveryRecipientGetsTheUtilityFailureMail) {
    MailServer server;
    ASSERT_NE(server.Port(), 0) << "the test mail server did not start";
    ups::CConfig config;
    // The port comes with the configured server, as an administrator gives it.
    config.mailServer = "127.0.0.1:" + std::to_string(server.Port());
    ups::CMsgTab msgTab;
    msgTab.address[0] = "one@example.org;two@example.org";
    RecordingLog log;
    CSmtpClient::Options options;
    options.stepTimeout = std::chrono::seconds(10);
    options.localHost = "ups-host";
    CEmailAlert alert([&](int kind) { return MailSettingsFor(config, msgTab, kind); }, log,
                      MakeSmtpMailer(options));
    alert.Start();
    alert.RaiseMailEvent(ups::kUtilityFailed);
    EXPECT_THAT(log.WaitFor(2),
                ElementsAre(Pair(ups::kEvMailSent, kInfo), Pair(ups::kEvMailSent, kInfo)));
    alert.Stop();

    const auto mails = server.Mails();
    ASSERT_EQ(mails.size(), 2u);
    const char* recipients[] = {"one@example.org", "two@example.org"};
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& mail = mails[i];
        EXPECT_EQ(mail["helo"], "ups-host");
        EXPECT_EQ(mail["from"], "ups-host");
        EXPECT_EQ(mail["to"], nlohmann::json::array({recipients[i]}));
        EXPECT_EQ(mail["content"].get<std::string>(),
                  "From: UPS[Host:ups-host]\r\nTo: <" + std::string(recipients[i]) +
                      ">\r\nSubject:Attention! Utility Power Failure!\r\n\r\n"
                      " Attention! Utility Power Failure!\r\n");
    }
}

}  // namespace
}  // namespace torvane
