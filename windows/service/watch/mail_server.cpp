#include "watch/mail_server.h"

#include <charconv>

namespace torvane::watch {

std::optional<MailServerAddress> ParseMailServer(std::string_view server,
                                                 std::uint16_t defaultPort) {
    std::string_view host = server;
    std::string_view port;
    if (!server.empty() && server.front() == '[') {
        const auto close = server.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = server.substr(1, close - 1);
        const std::string_view rest = server.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':' || rest.size() == 1) return std::nullopt;
            port = rest.substr(1);
        }
    } else if (const auto colon = server.find(':');
               colon != std::string_view::npos &&
               server.find(':', colon + 1) == std::string_view::npos) {
        host = server.substr(0, colon);
        port = server.substr(colon + 1);
        if (port.empty()) return std::nullopt;
    }
    if (host.empty()) return std::nullopt;
    // A host name with blanks, slashes or the like would make a different URL of its own.
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\' || u == 0x7F)
            return std::nullopt;
    }
    MailServerAddress address{std::string(host), defaultPort};
    if (!port.empty()) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
            return std::nullopt;
        address.port = static_cast<std::uint16_t>(value);
    }
    return address;
}

}  // namespace torvane::watch
