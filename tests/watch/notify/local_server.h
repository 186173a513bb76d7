// A TCP server on 127.0.0.1 for the notification tests: a thread that accepts connections one
// after another and hands each to a handler, with bounded waits so that it always ends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace torvane::watch::test_servers {

class Connection {
  public:
    Connection(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
    // Reads until `end` arrived (kept in the buffer); false when the peer closed or we stop.
    bool ReadUntil(const std::string& end) {
        while (buffer_.find(end) == std::string::npos) {
            if (!ReadSome()) return false;
        }
        return true;
    }
    // Takes the buffer's text up to and including `end`.
    std::string Take(const std::string& end) {
        const auto at = buffer_.find(end);
        std::string taken = buffer_.substr(0, at + end.size());
        buffer_.erase(0, at + end.size());
        return taken;
    }
    bool ReadBytes(std::size_t n, std::string& out) {
        while (buffer_.size() < n)
            if (!ReadSome()) return false;
        out = buffer_.substr(0, n);
        buffer_.erase(0, n);
        return true;
    }
    void Write(const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }
    // Waits until the peer closes or we stop, without answering.
    void Hold() {
        while (ReadSome()) {
        }
    }

  private:
    bool ReadSome() {
        for (;;) {
            if (stop_.load()) return false;
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, 50);
            if (ready < 0) return false;
            if (ready == 0) continue;
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
    }

    int fd_;
    const std::atomic<bool>& stop_;
    std::string buffer_;
};

class LocalServer {
  public:
    using Handler = std::function<void(Connection&)>;

    explicit LocalServer(Handler handler) : handler_(std::move(handler)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 64);
        socklen_t size = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~LocalServer() {
        stop_.store(true);
        thread_.join();
        ::close(listen_);
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    std::uint16_t Port() const { return port_; }

  private:
    void Run() {
        while (!stop_.load()) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) continue;
            Connection connection(fd, stop_);
            handler_(connection);
            ::close(fd);
        }
    }

    Handler handler_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace torvane::watch::test_servers
