#include "agent_client.h"

#include <asio.hpp>
#include <cstdlib>

namespace upsrec {

namespace {

std::string Describe(const asio::error_code& ec) {
    return ec.message();
}

}  // namespace

AgentAddress ParseAgentAddress(std::string_view text, std::uint16_t defaultPort) {
    AgentAddress a;
    a.port = defaultPort;
    std::string_view host = text;
    std::optional<std::string_view> port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            throw Failure("--agent: \"" + std::string(text) + "\" lacks the closing ]");
        host = text.substr(1, close - 1);
        const auto after = text.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                throw Failure("--agent: unexpected \"" + std::string(after) + "\" after ]");
            port = after.substr(1);
        }
    } else if (const auto colon = text.rfind(':');
               colon != std::string_view::npos && text.find(':') == colon) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty()) throw Failure("--agent: no host in \"" + std::string(text) + "\"");
    a.host = std::string(host);
    if (port) a.port = static_cast<std::uint16_t>(ParseInteger(*port, 1, 65535, "--agent port"));
    return a;
}

std::uint16_t DefaultAgentPort() {
    const char* env = std::getenv("TORVANE_TCP_PORT");
    if (env == nullptr || *env == '\0') return ups::link::kDefaultTcpPort;
    return static_cast<std::uint16_t>(ParseInteger(env, 1, 65535, "$TORVANE_TCP_PORT"));
}

// The socket as a buffered byte source for ups::link::Read. Each read waits until the current
// deadline at most.
struct AgentClient::Impl final : ups::ByteSource {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
    std::array<std::uint8_t, 16 * 1024> buffer{};
    std::size_t pos = 0;
    std::size_t end = 0;
    Clock::time_point deadline{};
    std::string waitingFor;
    std::string peer;

    // Runs the operation started by `start` until it completes or the deadline passes; a late
    // operation is cancelled and waited for, so its handler never outlives this call.
    template <typename Start>
    asio::error_code RunUntil(Clock::time_point until, const std::string& what, Start start) {
        asio::error_code result;
        bool done = false;
        io.restart();
        start([&](const asio::error_code& ec) {
            result = ec;
            done = true;
        });
        io.run_until(until);
        if (!done) {
            asio::error_code ignored;
            socket.cancel(ignored);
            socket.close(ignored);
            io.restart();
            io.run();
            throw Failure(peer + ": no answer from the agent within the time limit (" + what + ")");
        }
        return result;
    }

    std::size_t Read(std::span<std::uint8_t> out) override {
        if (out.empty()) return 0;
        if (pos == end) {
            std::size_t got = 0;
            const auto ec = RunUntil(deadline, waitingFor, [&](auto done) {
                socket.async_read_some(asio::buffer(buffer),
                                       [&, done](const asio::error_code& e, std::size_t n) {
                                           got = n;
                                           done(e);
                                       });
            });
            if (ec == asio::error::eof) return 0;  // the archive reports the end
            if (ec) throw Failure(peer + ": connection lost (" + Describe(ec) + ")");
            pos = 0;
            end = got;
        }
        const std::size_t n = std::min(out.size(), end - pos);
        std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(pos), n, out.begin());
        pos += n;
        return n;
    }
};

AgentClient::AgentClient(const AgentAddress& address, std::chrono::milliseconds timeout)
    : impl_(std::make_unique<Impl>()), timeout_(timeout) {
    peer_ = address.host.find(':') != std::string::npos
                ? "[" + address.host + "]:" + std::to_string(address.port)
                : address.host + ":" + std::to_string(address.port);
    impl_->peer = peer_;
    const auto until = Clock::now() + timeout_;
    asio::ip::tcp::resolver resolver(impl_->io);
    asio::ip::tcp::resolver::results_type endpoints;
    auto ec = impl_->RunUntil(until, "looking up " + address.host, [&](auto done) {
        resolver.async_resolve(address.host, std::to_string(address.port),
                               [&, done](const asio::error_code& e, auto results) {
                                   endpoints = results;
                                   done(e);
                               });
    });
    if (ec) throw Failure(peer_ + ": unknown host " + address.host + " (" + Describe(ec) + ")");
    ec = impl_->RunUntil(until, "connecting", [&](auto done) {
        asio::async_connect(impl_->socket, endpoints,
                            [done](const asio::error_code& e, const auto&) { done(e); });
    });
    if (ec == asio::error::connection_refused)
        throw Failure(peer_ + ": connection refused (is the agent running and listening there?)");
    if (ec) throw Failure(peer_ + ": cannot connect (" + Describe(ec) + ")");
}

AgentClient::~AgentClient() = default;

void AgentClient::Send(const std::vector<std::uint8_t>& message) {
    auto& s = *impl_;
    if (!s.socket.is_open()) throw Failure(peer_ + ": the connection is closed");
    const auto ec = s.RunUntil(Clock::now() + timeout_, "sending", [&](auto done) {
        asio::async_write(s.socket, asio::buffer(message),
                          [done](const asio::error_code& e, std::size_t) { done(e); });
    });
    if (ec) throw Failure(peer_ + ": cannot send to the agent (" + Describe(ec) + ")");
}

ups::link::Message AgentClient::Receive(Clock::time_point deadline, const std::string& what) {
    auto& s = *impl_;
    if (!s.socket.is_open()) throw Failure(peer_ + ": the connection is closed");
    s.deadline = deadline;
    s.waitingFor = what;
    try {
        return ups::link::Read(ups::link::Direction::FromAgent, s);
    } catch (const ups::ArchiveError& e) {
        if (e.code() == ups::ArchiveErrc::EndOfData)
            throw Failure(peer_ + ": the agent closed the connection early");
        throw Failure(peer_ + ": malformed message from the agent (" + e.what() + ")");
    }
}

void AgentClient::Close() {
    auto& s = *impl_;
    if (!s.socket.is_open()) return;
    Send(ups::link::Encode(ups::link::kGoodbye));
    asio::error_code ec;
    s.socket.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    // Drain until the agent closes; a slow one is simply left after the limit.
    const auto until = Clock::now() + std::min(timeout_, std::chrono::milliseconds(3000));
    try {
        for (;;) {
            std::size_t got = 0;
            const auto e = s.RunUntil(until, "closing", [&](auto done) {
                s.socket.async_read_some(asio::buffer(s.buffer),
                                         [&, done](const asio::error_code& err, std::size_t n) {
                                             got = n;
                                             done(err);
                                         });
            });
            if (e) break;
        }
    } catch (const Failure&) {
        // Our part is done: the goodbye went out before the limit ran out.
    }
    s.socket.close(ec);
}

}  // namespace upsrec
