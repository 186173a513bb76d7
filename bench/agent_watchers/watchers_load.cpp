// Load for the agent's watchers: N clients, each from a loopback address of its own, each asking
// again as soon as its answer is in (a closed loop), for a given time. HTTP clients keep their
// connection alive and connect again when the agent closes it (it answers 100 requests on one);
// NUT clients send "GET VAR ups ups.status" lines. Prints one line of figures:
//   requests=... seconds=... rps=... p50_ms=... p99_ms=... max_ms=... errors=... reconnects=...
// A C++ client rather than the Python of ./run: the figures must be the agent's, and a Python
// loop on the same two cores would be the slower side.
//
//   watchers_load http|nut HOST PORT CLIENTS SECONDS NET [PATH]
//
// NET: the second byte of the clients' addresses (127.NET.y.z).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Client {
    int fd = -1;
    int index = 0;
    bool connecting = false;
    std::string in;
    Clock::time_point sent;
};

struct Run {
    bool http = true;
    sockaddr_in server{};
    int net = 0;
    std::string request;
    int epoll = -1;
    std::vector<double> latencies;  // milliseconds
    long errors = 0;
    long reconnects = 0;
    std::string firstError;
};

void Fail(Run& run, const std::string& what) {
    ++run.errors;
    if (run.firstError.empty()) run.firstError = what;
}

bool Open(Run& run, Client& c) {
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (c.fd < 0) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    const std::string from = "127." + std::to_string(run.net) + "." +
                             std::to_string(c.index / 254) + "." +
                             std::to_string(c.index % 254 + 1);
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    int one = 1;
    ::setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::bind(c.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        Fail(run, "bind " + from + ": " + std::strerror(errno));
        return false;
    }
    const int r = ::connect(c.fd, reinterpret_cast<sockaddr*>(&run.server), sizeof run.server);
    if (r != 0 && errno != EINPROGRESS) {
        Fail(run, std::string("connect: ") + std::strerror(errno));
        return false;
    }
    c.connecting = true;
    c.in.clear();
    epoll_event ev{};
    ev.events = EPOLLOUT | EPOLLIN;
    ev.data.ptr = &c;
    ::epoll_ctl(run.epoll, EPOLL_CTL_ADD, c.fd, &ev);
    return true;
}

void Close(Run& run, Client& c) {
    if (c.fd < 0) return;
    ::epoll_ctl(run.epoll, EPOLL_CTL_DEL, c.fd, nullptr);
    ::close(c.fd);
    c.fd = -1;
}

void Send(Run& run, Client& c) {
    c.sent = Clock::now();
    const auto n = ::send(c.fd, run.request.data(), run.request.size(), MSG_NOSIGNAL);
    if (n != static_cast<ssize_t>(run.request.size())) Fail(run, "short send");
}

// Whole answers at the front of c.in: their count; -1 when the answer is not one.
// `close` is set when the agent said it closes after this one.
int Answers(Run& run, Client& c, bool& close) {
    int whole = 0;
    while (true) {
        if (!run.http) {
            const auto eol = c.in.find('\n');
            if (eol == std::string::npos) return whole;
            if (c.in.compare(0, 20, "VAR ups ups.status \"") != 0) {
                Fail(run, "answer: " + c.in.substr(0, eol));
                return -1;
            }
            c.in.erase(0, eol + 1);
            return whole + 1;
        }
        const auto end = c.in.find("\r\n\r\n");
        if (end == std::string::npos) return whole;
        if (c.in.compare(0, 13, "HTTP/1.1 200 ") != 0) {
            Fail(run, "answer: " + c.in.substr(0, c.in.find('\r')));
            return -1;
        }
        const auto at = c.in.find("Content-Length: ");
        if (at == std::string::npos || at > end) {
            Fail(run, "no length");
            return -1;
        }
        const std::size_t length = std::strtoul(c.in.c_str() + at + 16, nullptr, 10);
        if (c.in.size() < end + 4 + length) return whole;
        close = c.in.find("Connection: close", 0) < end;
        c.in.erase(0, end + 4 + length);
        return whole + 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: %s http|nut HOST PORT CLIENTS SECONDS NET [PATH]\n", argv[0]);
        return 2;
    }
    Run run;
    run.http = std::string(argv[1]) == "http";
    run.server.sin_family = AF_INET;
    run.server.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[3])));
    ::inet_pton(AF_INET, argv[2], &run.server.sin_addr);
    const int clients = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]);
    run.net = std::atoi(argv[6]);
    const std::string path = argc > 7 ? argv[7] : "/metrics";
    run.request = run.http ? "GET " + path + " HTTP/1.1\r\nHost: bench\r\n\r\n"
                           : std::string("GET VAR ups ups.status\n");
    run.epoll = ::epoll_create1(0);
    run.latencies.reserve(1 << 20);

    std::vector<Client> all(static_cast<std::size_t>(clients));
    for (int i = 0; i < clients; ++i) {
        all[static_cast<std::size_t>(i)].index = i;
        Open(run, all[static_cast<std::size_t>(i)]);
    }
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    std::vector<epoll_event> events(256);
    char buffer[65536];
    while (Clock::now() < until) {
        const int n = ::epoll_wait(run.epoll, events.data(), static_cast<int>(events.size()), 100);
        for (int k = 0; k < n; ++k) {
            Client& c = *static_cast<Client*>(events[static_cast<std::size_t>(k)].data.ptr);
            if (c.fd < 0) continue;
            if (c.connecting) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err != 0) {
                    Fail(run, std::string("connect: ") + std::strerror(err));
                    Close(run, c);
                    continue;
                }
                c.connecting = false;
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.ptr = &c;
                ::epoll_ctl(run.epoll, EPOLL_CTL_MOD, c.fd, &ev);
                Send(run, c);
                continue;
            }
            const auto got = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
                // The agent closed: an HTTP client connects again, as a scraper would.
                if (!run.http || !c.in.empty()) Fail(run, "closed by the agent");
                Close(run, c);
                ++run.reconnects;
                Open(run, c);
                continue;
            }
            c.in.append(buffer, static_cast<std::size_t>(got));
            bool close = false;
            const int whole = Answers(run, c, close);
            if (whole < 0) {
                Close(run, c);
                Open(run, c);
                continue;
            }
            if (whole == 0) continue;
            const auto now = Clock::now();
            run.latencies.push_back(
                std::chrono::duration<double, std::milli>(now - c.sent).count());
            if (close) {
                Close(run, c);
                ++run.reconnects;
                Open(run, c);
            } else {
                Send(run, c);
            }
        }
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto& c : all) Close(run, c);
    std::sort(run.latencies.begin(), run.latencies.end());
    auto at = [&](double q) {
        if (run.latencies.empty()) return 0.0;
        return run.latencies[std::min(run.latencies.size() - 1,
                                      static_cast<std::size_t>(q * run.latencies.size()))];
    };
    std::printf(
        "requests=%zu seconds=%.2f rps=%.0f p50_ms=%.2f p99_ms=%.2f max_ms=%.2f errors=%ld "
        "reconnects=%ld\n",
        run.latencies.size(), took, run.latencies.size() / took, at(0.5), at(0.99),
        run.latencies.empty() ? 0.0 : run.latencies.back(), run.errors, run.reconnects);
    if (!run.firstError.empty()) std::fprintf(stderr, "first error: %s\n", run.firstError.c_str());
    return run.errors == 0 ? 0 : 1;
}
