// Who is at the other end of a TCP connection from this machine: on a shared machine any user can
// reach the agent's port over loopback, so coming from here is not enough to be trusted.
#pragma once

#include <asio.hpp>

namespace torvane {

// True when the connection comes from this machine and its socket belongs to root or to the
// agent's own user. False when that cannot be told (another machine, or a system that does not
// say).
bool PeerIsAdministrator(const asio::ip::tcp::socket& socket);

}  // namespace torvane
