// The mail server of the configuration: "host", "host:port" or "[v6 address]:port", so that a
// relay on another port, or a provider's submission port, can be used. Shared by the plain and
// the secure mailer, so that both read the text alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvane::watch {

struct MailServerAddress {
    std::string host;
    std::uint16_t port = 25;
    bool operator==(const MailServerAddress&) const = default;
};

// The host and port of a configured server; without a port, `defaultPort`. A port that is not a
// number from 1 to 65535 gives nothing: such a server is refused rather than tried on some port
// it did not name. A bare IPv6 address (more than one colon, no brackets) is all host. A host with
// blanks, slashes, "@" or the like gives nothing too: it would make a different URL of its own.
std::optional<MailServerAddress> ParseMailServer(std::string_view server,
                                                 std::uint16_t defaultPort);

}  // namespace torvane::watch
