// Opening a TCP listener the one way every server of the agent does: the control panels' link,
// the NUT server and the metrics endpoint.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <string>

namespace torvane::watch {

// Opens `acceptor` on `address` (empty: every IPv4 interface) and `port`, and listens with
// `backlog`. False, the acceptor closed and `problem` saying why ("not an IP address: x",
// "cannot listen on 127.0.0.1:3493: Address already in use"), when it cannot.
bool OpenListener(asio::ip::tcp::acceptor& acceptor, const std::string& address, std::uint16_t port,
                  int backlog, std::string& problem);

}  // namespace torvane::watch
