#include "test_notify.h"

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "email_alert.h"
#include "pager_alert.h"
#include "smtp_client.h"
#include "ups_lib/config.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/trace.h"
#include "watch/notify/secure_mail.h"
#include "watch/notify/webhooks.h"
#include "watch/watch_settings.h"

namespace torvane {

namespace {

constexpr const char* kSubject = "Torvane: a test of the notifications";

// The trace lines of an attempt, for the reason of a failure: the mailers and the pager tell it
// only there. They still reach the trace as before.
class TraceCapture {
  public:
    TraceCapture() {
        previous_ = ups::SetTraceSink([this](std::string_view line) {
            {
                std::lock_guard lock(mutex_);
                lines_.emplace_back(line);
            }
            if (previous_) {
                previous_(line);
            } else if (std::getenv("TORVANE_TRACE") != nullptr) {
                std::fwrite(line.data(), 1, line.size(), stderr);
            }
        });
    }
    ~TraceCapture() { ups::SetTraceSink(previous_); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    // The last line since Clear(), after its "failed: " or "error: " when it has one.
    std::string Reason() {
        std::lock_guard lock(mutex_);
        if (lines_.empty()) return "no reason given";
        std::string line = lines_.back();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        for (std::string_view mark : {"failed: ", "error: "}) {
            if (const auto at = line.find(mark); at != std::string::npos)
                return line.substr(at + mark.size());
        }
        return line;
    }

  private:
    ups::TraceSink previous_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The pager's event log entries, printed as they come.
class PrintingAlertLog final : public AlertLog {
  public:
    explicit PrintingAlertLog(std::FILE* out) : out_(out) {}
    void LogEvent(std::uint32_t id, std::uint16_t type) override {
        std::fprintf(out_, "  (event: %s, %s)\n", std::string(ups::EventText(id)).c_str(),
                     std::string(ups::EventTypeName(type)).c_str());
    }

  private:
    std::FILE* out_;
};

struct Tally {
    std::FILE* out;
    int sent = 0;
    int failed = 0;
    // One attempt's line, counted.
    void Line(const std::string& what, bool ok, const std::string& why) {
        Print(what, ok, why);
        Count(ok);
    }
    void Print(const std::string& what, bool ok, const std::string& why) {
        if (ok)
            std::fprintf(out, "%s: sent\n", what.c_str());
        else
            std::fprintf(out, "%s: failed: %s\n", what.c_str(), why.c_str());
        std::fflush(out);
    }
    void Count(bool ok) { ++(ok ? sent : failed); }
};

std::vector<std::string> DistinctAddresses(const ups::CMsgTab& msgTab) {
    std::vector<std::string> all;
    for (int kind = 0; kind < ups::kNotifyKinds; ++kind) {
        for (std::string address :
             SplitRecipients(msgTab.address[static_cast<std::size_t>(kind)])) {
            const auto first = address.find_first_not_of(" \t");
            if (first == std::string::npos) continue;
            address = address.substr(first, address.find_last_not_of(" \t") - first + 1);
            bool seen = false;
            for (const auto& a : all) seen = seen || a == address;
            if (!seen) all.push_back(address);
        }
    }
    return all;
}

void TestMail(const ups::CConfig& config, const ups::CMsgTab& msgTab,
              const watch::MailSecurity& security, const std::string& host, TraceCapture& trace,
              Tally& tally) {
    const std::vector<std::string> addresses = DistinctAddresses(msgTab);
    if (config.mailServer.empty()) {
        tally.Line("mail", false, "e-mail is on but no mail server is configured");
        return;
    }
    if (addresses.empty()) {
        tally.Line("mail", false, "e-mail is on but no address is configured");
        return;
    }
    const Mailer mailer =
        security.Plain() ? MakeSmtpMailer() : Mailer(watch::MakeSecureMailer(security));
    const std::string body = "This is a test of the notifications of the Torvane agent on " + host +
                             ". No action is needed.\r\n";
    for (const std::string& address : addresses) {
        trace.Clear();
        const bool ok = mailer(config.mailServer, address, kSubject, body);
        tally.Line("mail to " + address, ok, ok ? "" : trace.Reason());
    }
}

void TestPager(const ups::CConfig& config, const ups::CMsgTab& msgTab, TraceCapture& trace,
               Tally& tally) {
    int kind = 0;
    while (kind < ups::kNotifyKinds && (msgTab.number[static_cast<std::size_t>(kind)].empty() ||
                                        msgTab.code[static_cast<std::size_t>(kind)].empty()))
        ++kind;
    if (kind == ups::kNotifyKinds) {
        tally.Line("page", false, "the pager is on but no kind has a pager number and code");
        return;
    }
    const PagerSettings settings = PagerSettingsFor(config, msgTab, kind);
    const std::string what = "page to " + settings.number + " on " +
                             PagerPortName(settings.portIndex) + " (kind " + std::to_string(kind) +
                             ")";
    PrintingAlertLog log(tally.out);
    CPagerAlerts pager(log);
    trace.Clear();
    const auto page = pager.PagerThread(kind, settings);
    if (!page->WaitFor(CPagerAlerts::kLongestPage + std::chrono::seconds(5))) {
        tally.Line(what, false, "the page did not end in time");
        return;
    }
    tally.Line(what, page->Succeeded(), page->Succeeded() ? "" : trace.Reason());
}

// Each URL on its own, so that each counts once: a post taken at its second attempt counts as
// sent, and its failed first attempt is still shown.
void TestWebhooks(const std::vector<std::string>& urls, Tally& tally) {
    // A short pause: someone waits at the console.
    watch::Webhooks::Options options;
    options.attempts = 2;
    options.retryPause = std::chrono::seconds(1);
    watch::UpsSnapshot ups;
    ups.startedAt = ups.updatedAt = static_cast<std::int64_t>(std::time(nullptr));
    for (const std::string& url : urls) {
        watch::Webhooks hook({url}, options,
                             [&tally](const std::string& shown, bool ok, const std::string& why) {
                                 tally.Print("webhook " + shown, ok, why);
                             });
        tally.Count(hook.PostNow(watch::EventKind::kTest,
                                 "This is a test of the notifications of Torvane.", ups));
    }
}

}  // namespace

int TestNotifications(std::FILE* out) {
    ups::CConfig config;
    ups::CMsgTab msgTab;
    if (config.Load() == ups::LoadResult::Unreadable)
        std::fprintf(stderr, "Torvane: the configuration record cannot be read\n");
    if (msgTab.Load() == ups::LoadResult::Unreadable)
        std::fprintf(stderr, "Torvane: the notification record cannot be read\n");
    std::vector<std::string> problems;
    const watch::WatchSettings settings = watch::WatchSettingsFromEnvironment(problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "Torvane: %s\n", problem.c_str());

    TraceCapture trace;
    Tally tally{out};
    const std::string host = LocalHostName();
    const bool mail = config.emailOn != 0;
    const bool pager = config.pagerOn != 0;
    if (!mail && !pager && settings.webhooks.empty()) {
        std::fprintf(out, "nothing to test: no channel is configured\n");
        return 1;
    }
    if (mail) TestMail(config, msgTab, settings.mail, host, trace, tally);
    if (pager) TestPager(config, msgTab, trace, tally);
    if (!settings.webhooks.empty()) TestWebhooks(settings.webhooks, tally);

    std::fprintf(out, "%d sent, %d failed\n", tally.sent, tally.failed);
    return tally.failed == 0 ? 0 : 1;
}

}  // namespace torvane
