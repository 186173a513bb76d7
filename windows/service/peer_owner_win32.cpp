#include "peer_owner.h"

namespace torvane {

// Telling the owner of a loopback connection needs the connection table's process ids and their
// tokens; until that is written a connection without the password is never trusted to change
// anything.
bool PeerIsAdministrator(const asio::ip::tcp::socket&) {
    return false;
}

}  // namespace torvane
