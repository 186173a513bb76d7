// The Windows build has no TLS mail client (Debian's cross compiler comes without libcurl):
// every secure mail fails and says why, rather than going out in the clear.
#include "ups_lib/trace.h"
#include "watch/notify/notify_detail.h"
#include "watch/notify/secure_mail.h"

namespace torvane::watch {

SecureMailer MakeSecureMailer(MailSecurity, std::chrono::milliseconds, const std::atomic<bool>*) {
    return [](const std::string&, const std::string& recipient, const std::string&,
              const std::string&) {
        ups::Trace("Send Email to " + notify_detail::OneLine(recipient) +
                   " failed: secure mail (TLS, SMTP AUTH) is not available in the Windows build\n");
        return false;
    };
}

}  // namespace torvane::watch
