// Mail through today's providers: STARTTLS or TLS from the first byte, and SMTP AUTH, by
// libcurl's SMTP client. Used when the mail security settings ask for any of it; plain mail
// keeps the agent's own SMTP conversation.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "watch/watch_settings.h"

namespace torvane::watch {

// Sends one mail; true on success. The same type as the e-mail alert's Mailer.
using SecureMailer = std::function<bool(const std::string& server, const std::string& recipient,
                                        const std::string& subject, const std::string& body)>;

// A mailer for the e-mail alert. The server text may carry ":port"; without one the port is 587 for
// STARTTLS, 465 for TLS and 25 otherwise. Every step ends within `stepTimeout`. A mail in hand
// ends at once, as failed, when `stop` (if given; it must outlive the mailer) is set: a server
// that accepts and never answers could otherwise hold the agent's stop for minutes.
SecureMailer MakeSecureMailer(MailSecurity security,
                              std::chrono::milliseconds stepTimeout = std::chrono::seconds(30),
                              const std::atomic<bool>* stop = nullptr);

}  // namespace torvane::watch
