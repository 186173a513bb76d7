#include "email_alert.h"

#include <ctime>
#include <utility>

#include "ups_lib/event_texts.h"
#include "ups_lib/log_records.h"
#include "ups_lib/trace.h"

namespace torvane {

void EventLogAlertSink::LogEvent(std::uint32_t id, std::uint16_t type) {
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    log_.AddEvent(ups::CEventLogRecord(id, type, now));
}

MailSettings MailSettingsFor(const ups::CConfig& config, const ups::CMsgTab& msgTab, int kind) {
    if (kind < 0 || kind >= ups::kNotifyKinds) return {config.mailServer, {}, {}};
    const auto k = static_cast<std::size_t>(kind);
    return {config.mailServer, msgTab.address[k], msgTab.text[k]};
}

Mailer MakeSmtpMailer(CSmtpClient::Options options) {
    return [options](const std::string& server, const std::string& recipient,
                     const std::string& subject, const std::string& body) {
        const auto address = ParseMailServer(server, options.port);
        if (!address) {
            ups::Trace("Send Email to " + recipient + " failed: no such mail server \"" + server +
                       "\"\n");
            return false;
        }
        CSmtpClient::Options own = options;
        own.port = address->port;
        CSmtpClient client(address->host, own);
        const bool ok = client.SendMail(recipient, subject, body);
        if (!ok) ups::Trace("Send Email to " + recipient + " failed: " + client.LastError() + "\n");
        return ok;
    };
}

std::vector<std::string> SplitRecipients(std::string_view list) {
    std::vector<std::string> recipients;
    while (!list.empty()) {
        const auto cut = list.find(';');
        if (cut == std::string_view::npos || cut == 0) {
            recipients.emplace_back(list);
            break;
        }
        recipients.emplace_back(list.substr(0, cut));
        list.remove_prefix(cut + 1);
    }
    return recipients;
}

CEmailAlert::CEmailAlert(MailSettingsSource settings, AlertLog& log, Mailer mailer)
    : settings_(std::move(settings)), log_(log), mailer_(std::move(mailer)) {
    for (int i = 0; i <= kStopEvent; ++i)
        events_.push_back(std::make_unique<platform::Event>(platform::Event::Mode::kAutoReset));
}

CEmailAlert::~CEmailAlert() {
    Stop();
}

void CEmailAlert::Start() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] { Run(); });
}

void CEmailAlert::RaiseMailEvent(int kind) {
    if (kind < 0 || kind >= ups::kNotifyKinds) return;
    events_[static_cast<std::size_t>(kind)]->Set();
}

void CEmailAlert::Stop() {
    if (!thread_.joinable()) return;
    events_[kStopEvent]->Set();
    thread_.join();
}

void CEmailAlert::Run() {
    ups::Trace("Send Email Thread start\n");
    for (;;) {
        const int k = platform::WaitAny(
            {events_[0].get(), events_[1].get(), events_[2].get(), events_[3].get(),
             events_[4].get(), events_[5].get(), events_[6].get(), events_[7].get()},
            platform::kInfinite);
        if (k == kStopEvent) break;
        if (k < 0 || k > kStopEvent) continue;
        Mail(k);
    }
    ups::Trace("Send Email Thread end\n");
}

void CEmailAlert::Mail(int kind) {
    const MailSettings mail = settings_(kind);
    if (mail.server.empty() || mail.addresses.empty()) {
        log_.LogEvent(ups::kEvMailFailed, ups::CEventLogRecord::kError);
        return;
    }
    for (const std::string& recipient : SplitRecipients(mail.addresses)) {
        const bool sent = mailer_(mail.server, recipient, mail.text, mail.text);
        if (sent)
            log_.LogEvent(ups::kEvMailSent, ups::CEventLogRecord::kInformation);
        else
            log_.LogEvent(ups::kEvMailFailed, ups::CEventLogRecord::kError);
    }
}

}  // namespace torvane
