// How the agent's outside watchers and modern notifications are set up: from the environment,
// like the agent's ports, because the configuration record's layout is shared with the control
// panels and must not change. Every listener is on loopback unless told otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane::watch {

struct Listener {
    bool enabled = true;  // "off" as the port turns it off
    std::string address;  // a dotted IPv4 or an IPv6 address
    std::uint16_t port = 0;
};

// How mail goes out. Without any of it the agent speaks plain SMTP, as it always has.
struct MailSecurity {
    enum class Tls { kNone, kStartTls, kImplicit };
    Tls tls = Tls::kNone;
    std::string user;  // SMTP AUTH when not empty
    std::string password;
    bool verifyPeer = true;  // the server's certificate is checked
    std::string caFile;      // a certificate authority of one's own, for a private relay
    bool Plain() const { return tls == Tls::kNone && user.empty(); }
};

struct WatchSettings {
    static constexpr std::uint16_t kNutPort = 3493;
    static constexpr std::uint16_t kHttpPort = 9270;

    // $TORVANE_NUT_LISTEN, $TORVANE_NUT_PORT: the NUT network protocol.
    Listener nut{true, "127.0.0.1", kNutPort};
    // $TORVANE_NUT_USER, $TORVANE_NUT_PASSWORD: who may send FSD. Without a password nobody may.
    std::string nutUser = "admin";
    std::string nutPassword;
    // $TORVANE_HTTP_LISTEN, $TORVANE_HTTP_PORT: /metrics and /status.json.
    Listener http{true, "127.0.0.1", kHttpPort};
    // $TORVANE_WEBHOOKS: the URLs every event is posted to, separated by blanks.
    std::vector<std::string> webhooks;
    // $TORVANE_SMTP_TLS (none, starttls, tls; starttls when unset and a user is),
    // $TORVANE_SMTP_USER, $TORVANE_SMTP_PASSWORD, $TORVANE_SMTP_VERIFY (0 takes any certificate),
    // $TORVANE_SMTP_CA.
    MailSecurity mail;
};

// Reads the settings. A value that cannot be used is reported in `problems` (one line each) and
// its default taken, so that a typing slip never leaves the agent without its watchers.
WatchSettings WatchSettingsFromEnvironment(std::vector<std::string>& problems);

}  // namespace torvane::watch
