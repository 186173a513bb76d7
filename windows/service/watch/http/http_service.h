// A small HTTP/1.1 server for a few fixed pages, on an io_context the caller runs: it reads
// requests as their bytes come, answers GET and HEAD through a handler, and holds every client
// to limits of time, count and memory, as anyone who can reach the port may be hostile.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace torvane::watch::http {

struct Limits {
    std::size_t maxConnections = 128;  // a further one is closed at once
    std::size_t maxPerAddress = 32;    // of them from one address
    std::size_t maxRequests = 100;     // on one connection; the last answer closes it
    std::size_t maxHead = 8 * 1024;    // request line and headers; a longer head gets 431
    std::size_t maxHeaders = 64;
    // Nothing more is read or answered on a connection while this much waits to be sent to it.
    std::size_t pauseReading = 64 * 1024;
    // A connection must finish a request, or take an answer, within this time of its last
    // answer (of its start): a client that sends its head a byte at a time, or never reads,
    // loses its place.
    std::chrono::milliseconds idle{10'000};
    // After the last answer: what the client still sends is read and dropped for this long, so
    // that closing with unread bytes does not reset the connection before it read the answer.
    std::chrono::milliseconds linger{2'000};
    // After a failed accept (no descriptors left): accepting at once again would spin.
    std::chrono::milliseconds acceptRetry{500};
};

struct Response {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
};

// The answer to a GET (or HEAD) of `path`: the handler answers every path, 404 for its unknown
// ones. It runs on the io_context's thread.
using Handler = std::function<Response(std::string_view path)>;

class Service {
  public:
    Service(asio::io_context& context, Handler handler, Limits limits = {});
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Binds and listens; false with the reason when the address cannot be had.
    bool Listen(const std::string& address, std::uint16_t port, std::string& problem);
    std::uint16_t Port() const { return port_; }
    // Stops listening and closes every connection; on the io_context's thread.
    void Close();
    std::size_t Connections() const { return connections_.size(); }

  private:
    struct Connection;
    using Pointer = std::shared_ptr<Connection>;

    void Accept();
    void Admit(const Pointer& c);
    void Read(const Pointer& c);
    void Answer(const Pointer& c);
    void Queue(const Pointer& c, std::string bytes);
    void Write(const Pointer& c);
    void Arm(const Pointer& c, std::chrono::milliseconds time);
    void Linger(const Pointer& c);
    void Drain(const Pointer& c);
    void Drop(const Pointer& c);

    asio::io_context& context_;
    Handler handler_;
    Limits limits_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer acceptRetry_;
    std::uint16_t port_ = 0;
    std::map<std::uint64_t, Pointer> connections_;
    std::map<std::string, std::size_t> perAddress_;
    std::uint64_t nextId_ = 1;
    // One for all: a connection's bytes are read only once they have come.
    std::string readBuffer_ = std::string(16 * 1024, '\0');
    // Handlers still queued after the service is gone see this expired and do nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The reason phrase of a status this server sends.
std::string_view Reason(int status);

}  // namespace torvane::watch::http
