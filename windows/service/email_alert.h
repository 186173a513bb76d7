// The e-mail alert: one long-lived thread that sleeps on eight auto-reset events. Events 0 to 6
// each ask for the mail of one notification kind, event 7 ends the thread. Alerts raised faster
// than mail goes out collapse per kind, as auto-reset events do. Every attempt is recorded in
// the event log through `AlertLog`, which the pager alert shares.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "smtp_client.h"
#include "ups_lib/config.h"
#include "ups_lib/event_log.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/platform/events.h"
#include "watch/mail_server.h"

namespace torvane {

// Where the alert threads record their attempts; called from those threads.
class AlertLog {
  public:
    virtual ~AlertLog() = default;
    virtual void LogEvent(std::uint32_t id, std::uint16_t type) = 0;
};

// The frame's event log as the alerts' sink, stamped with the current time.
class EventLogAlertSink final : public AlertLog {
  public:
    explicit EventLogAlertSink(ups::CEventLog& log) : log_(log) {}
    void LogEvent(std::uint32_t id, std::uint16_t type) override;

  private:
    ups::CEventLog& log_;
};

// What one mail of a kind needs, read when it is sent.
struct MailSettings {
    std::string server;     // host name or dotted address
    std::string addresses;  // separated by ";"
    std::string text;       // subject and body
};
MailSettings MailSettingsFor(const ups::CConfig& config, const ups::CMsgTab& msgTab, int kind);

// Called on the e-mail thread when event `kind` is handled; it must be safe to call there
// (the frame copies its records under a lock, for instance).
using MailSettingsSource = std::function<MailSettings(int kind)>;
// Sends one mail; true on success.
using Mailer = std::function<bool(const std::string& server, const std::string& recipient,
                                  const std::string& subject, const std::string& body)>;
// The configured server may name its port, "host:port" or "[v6 address]:port", so that a relay
// on another port can be used; without one the port is `options.port` (25).
Mailer MakeSmtpMailer(CSmtpClient::Options options = {});

using watch::MailServerAddress;
using watch::ParseMailServer;

// The recipients of an address list: the text is cut at each ";" that is not its first
// character; a ";" at the start stays part of the address it begins.
std::vector<std::string> SplitRecipients(std::string_view list);

class CEmailAlert {
  public:
    static constexpr int kStopEvent = 7;

    CEmailAlert(MailSettingsSource settings, AlertLog& log, Mailer mailer = MakeSmtpMailer());
    // Ends the thread (after the mail in hand) if it still runs.
    ~CEmailAlert();
    CEmailAlert(const CEmailAlert&) = delete;
    CEmailAlert& operator=(const CEmailAlert&) = delete;

    // Starts the thread; the frame does this once, when it is created.
    void Start();
    // Asks for the mails of `kind` (0 to 6); any other value is ignored.
    void RaiseMailEvent(int kind);
    // Sets event 7 and waits for the thread to end.
    void Stop();

  private:
    void Run();
    void Mail(int kind);

    MailSettingsSource settings_;
    AlertLog& log_;
    Mailer mailer_;
    std::vector<std::unique_ptr<platform::Event>> events_;
    std::thread thread_;
};

}  // namespace torvane
