#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "peer_owner.h"

namespace torvane {

namespace {

// An endpoint as /proc/net/tcp and tcp6 print it: the address as the kernel holds it, in 32-bit
// words printed in this machine's byte order, then the port.
std::string ProcForm(const asio::ip::tcp::endpoint& e) {
    std::string out;
    char word[9];
    auto put = [&](const unsigned char* bytes, std::size_t n) {
        for (std::size_t i = 0; i < n; i += 4) {
            std::uint32_t v;
            std::memcpy(&v, bytes + i, 4);
            std::snprintf(word, sizeof word, "%08X", v);
            out += word;
        }
    };
    if (e.address().is_v4()) {
        const auto b = e.address().to_v4().to_bytes();
        put(b.data(), b.size());
    } else {
        const auto b = e.address().to_v6().to_bytes();
        put(b.data(), b.size());
    }
    char port[6];
    std::snprintf(port, sizeof port, "%04X", static_cast<unsigned>(e.port()));
    return out + ":" + port;
}

// The owner of the socket whose own end is `local` and whose far end is `remote`, or -1.
long OwnerOf(const char* table, const std::string& local, const std::string& remote) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, here, there, state, queues, timer, retransmits;
        long uid = -1;
        if (!(fields >> slot >> here >> there >> state >> queues >> timer >> retransmits >> uid))
            continue;
        if (here == local && there == remote) return uid;
    }
    return -1;
}

}  // namespace

bool PeerIsAdministrator(const asio::ip::tcp::socket& socket) {
    asio::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    if (ec) return false;
    const auto local = socket.local_endpoint(ec);
    if (ec) return false;
    if (!remote.address().is_loopback() && remote.address() != local.address()) return false;
    // The peer's socket is the one whose own end is our far end.
    const char* table = remote.address().is_v4() ? "/proc/net/tcp" : "/proc/net/tcp6";
    const long uid = OwnerOf(table, ProcForm(remote), ProcForm(local));
    return uid == 0 || (uid >= 0 && static_cast<uid_t>(uid) == geteuid());
}

}  // namespace torvane
