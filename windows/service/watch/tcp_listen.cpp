#include "watch/tcp_listen.h"

namespace torvane::watch {

bool OpenListener(asio::ip::tcp::acceptor& acceptor, const std::string& address, std::uint16_t port,
                  int backlog, std::string& problem) {
    asio::error_code error;
    const asio::ip::address ip = address.empty() ? asio::ip::address(asio::ip::address_v4::any())
                                                 : asio::ip::make_address(address, error);
    if (error) {
        problem = "not an IP address: " + address;
        return false;
    }
    const asio::ip::tcp::endpoint endpoint(ip, port);
    acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
    // A restarted agent gets its port back while old connections linger in TIME_WAIT. Not on
    // Windows: there the option lets another program bind the same port over ours.
    if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
#endif
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(backlog, error);
    if (error) {
        const std::string host = ip.is_v6() ? "[" + ip.to_string() + "]" : ip.to_string();
        problem = "cannot listen on " + host + ":" + std::to_string(port) + ": " + error.message();
        asio::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    return true;
}

}  // namespace torvane::watch
