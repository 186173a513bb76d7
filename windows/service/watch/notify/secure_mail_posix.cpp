// Secure mail by libcurl's SMTP client: one connection and one recipient per mail.
#include <curl/curl.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "ups_lib/trace.h"
#include "watch/notify/curl_once.h"
#include "watch/notify/notify_detail.h"
#include "watch/notify/secure_mail.h"

namespace torvane::watch {

namespace {

using namespace notify_detail;

// The steps of a mail, each given the step time-out: curl's connection phase holds the TCP
// connect, the greeting, EHLO, STARTTLS with the TLS handshake and the second EHLO (AUTH comes
// after); the whole mail adds AUTH, MAIL, RCPT, DATA, the message and QUIT.
constexpr int kConnectSteps = 5;
constexpr int kSteps = 10;

struct Upload {
    const std::string* message;
    std::size_t sent = 0;
};

// Called about once a second and at every chunk, in every phase: a non-zero answer aborts.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* stop = static_cast<const std::atomic<bool>*>(user);
    return stop != nullptr && stop->load() ? 1 : 0;
}

std::size_t ReadMessage(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* u = static_cast<Upload*>(user);
    const std::size_t left = u->message->size() - u->sent;
    const std::size_t n = std::min(left, size * count);
    std::memcpy(buffer, u->message->data() + u->sent, n);
    u->sent += n;
    return n;
}

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool Send(const MailSecurity& security, std::chrono::milliseconds stepTimeout,
          const std::atomic<bool>* stop, const std::string& server, const std::string& rawRecipient,
          const std::string& subject, const std::string& body, std::string& why) {
    using Tls = MailSecurity::Tls;
    const std::uint16_t defaultPort = security.tls == Tls::kStartTls   ? 587
                                      : security.tls == Tls::kImplicit ? 465
                                                                       : 25;
    const auto address = ParseMailServer(server, defaultPort);
    if (!address) {
        why = "no such mail server \"" + OneLine(server) + "\"";
        return false;
    }
    // A line break in the address must not start a command or a header of its own.
    const std::string recipient = Trimmed(OneLine(rawRecipient));
    if (recipient.empty()) {
        why = "no recipient";
        return false;
    }
    const std::string host = ThisHostName();
    const std::string from = "torvane@" + host;
    const std::string hostPart =
        address->host.find(':') != std::string::npos ? "[" + address->host + "]" : address->host;
    // The path of an SMTP URL is the name curl gives in EHLO.
    const std::string url = std::string(security.tls == Tls::kImplicit ? "smtps://" : "smtp://") +
                            hostPart + ":" + std::to_string(address->port) + "/" + host;
    const std::string message = MailMessage(from, recipient, subject, body, std::time(nullptr));

    EnsureCurl();
    std::unique_ptr<CURL, CurlDeleter> h(curl_easy_init());
    if (!h) {
        why = "curl could not start";
        return false;
    }
    std::unique_ptr<curl_slist, ListDeleter> recipients(
        curl_slist_append(nullptr, ("<" + recipient + ">").c_str()));
    Upload upload{&message, 0};
    char error[CURL_ERROR_SIZE] = {};
    CURL* c = h.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(stepTimeout.count() * kConnectSteps));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(stepTimeout.count() * kSteps));
    // STARTTLS: required, so that a server (or someone between) that does not offer it makes the
    // mail fail instead of sending it and the password in the clear.
    if (security.tls != Tls::kNone) curl_easy_setopt(c, CURLOPT_USE_SSL, (long)CURLUSESSL_ALL);
    if (!security.user.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, security.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, security.password.c_str());
    }
    if (!security.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, security.caFile.c_str());
    if (!security.verifyPeer) {
        // For a private relay with a certificate of its own making: the connection is still
        // encrypted, but anyone between could pose as the server. TORVANE_SMTP_CA is the better
        // answer when the relay's certificate can be had.
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + from + ">").c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadMessage);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<void*>(static_cast<const void*>(stop)));
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);

    if (stop != nullptr && stop->load()) {
        why = "stopped";
        return false;
    }
    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) return true;
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        why = "stopped";
        return false;
    }
    why = error[0] != '\0' ? error : curl_easy_strerror(code);
    return false;
}

}  // namespace

SecureMailer MakeSecureMailer(MailSecurity security, std::chrono::milliseconds stepTimeout,
                              const std::atomic<bool>* stop) {
    return [security, stepTimeout, stop](const std::string& server, const std::string& recipient,
                                         const std::string& subject, const std::string& body) {
        std::string why;
        if (Send(security, stepTimeout, stop, server, recipient, subject, body, why)) return true;
        ups::Trace("Send Email to " + OneLine(recipient) + " failed: " + why + "\n");
        return false;
    };
}

}  // namespace torvane::watch
