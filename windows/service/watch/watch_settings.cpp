#include "watch/watch_settings.h"

#include <cerrno>
#include <cstdlib>

namespace torvane::watch {

namespace {

std::string Env(const char* name) {
    const char* text = std::getenv(name);
    return text == nullptr ? std::string() : std::string(text);
}

void ReadListener(const char* addressName, const char* portName, Listener& listener,
                  std::vector<std::string>& problems) {
    if (std::string address = Env(addressName); !address.empty()) listener.address = address;
    const std::string port = Env(portName);
    if (port.empty()) return;
    if (port == "off") {
        listener.enabled = false;
        return;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > 65535) {
        problems.push_back(std::string(portName) + "=" + port + " is no port number; " +
                           std::to_string(listener.port) + " is used");
        return;
    }
    listener.port = static_cast<std::uint16_t>(value);
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text + " ") {
        if (c == ' ' || c == '\t' || c == '\n' || c == ',') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

}  // namespace

WatchSettings WatchSettingsFromEnvironment(std::vector<std::string>& problems) {
    WatchSettings s;
    ReadListener("TORVANE_NUT_LISTEN", "TORVANE_NUT_PORT", s.nut, problems);
    if (std::string user = Env("TORVANE_NUT_USER"); !user.empty()) s.nutUser = user;
    s.nutPassword = Env("TORVANE_NUT_PASSWORD");
    ReadListener("TORVANE_HTTP_LISTEN", "TORVANE_HTTP_PORT", s.http, problems);
    for (const std::string& url : Words(Env("TORVANE_WEBHOOKS"))) {
        if (url.starts_with("http://") || url.starts_with("https://")) {
            s.webhooks.push_back(url);
        } else {
            problems.push_back("TORVANE_WEBHOOKS: " + url + " is no http or https URL; left out");
        }
    }
    const std::string tls = Env("TORVANE_SMTP_TLS");
    if (tls == "starttls") {
        s.mail.tls = MailSecurity::Tls::kStartTls;
    } else if (tls == "tls") {
        s.mail.tls = MailSecurity::Tls::kImplicit;
    } else if (!tls.empty() && tls != "none") {
        // Mail that was meant to be private must not go out in the clear instead.
        s.mail.tls = MailSecurity::Tls::kStartTls;
        problems.push_back("TORVANE_SMTP_TLS=" + tls + " is none of none, starttls, tls; " +
                           "starttls is used");
    }
    s.mail.user = Env("TORVANE_SMTP_USER");
    // A password is not sent in the clear unless that was asked for by name.
    if (tls.empty() && !s.mail.user.empty()) s.mail.tls = MailSecurity::Tls::kStartTls;
    s.mail.password = Env("TORVANE_SMTP_PASSWORD");
    s.mail.verifyPeer = Env("TORVANE_SMTP_VERIFY") != "0";
    s.mail.caFile = Env("TORVANE_SMTP_CA");
    return s;
}

}  // namespace torvane::watch
