#include "control_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace upssim {
namespace {

bool make_address(const std::string& path, sockaddr_un& addr, std::string& error) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        error = path + ": socket path too long or empty";
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

bool someone_listens(const sockaddr_un& addr) {
    UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return probe.valid() &&
           ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

}  // namespace

ControlServer::~ControlServer() {
    if (!listener_.valid()) return;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
        ::unlink(path_.c_str());
}

bool ControlServer::open(const std::string& path, std::string& error) {
    sockaddr_un addr;
    if (!make_address(path, addr, error)) return false;

    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) return error = path + ": exists and is not a socket", false;
        if (someone_listens(addr)) return error = path + ": another process is listening", false;
        ::unlink(path.c_str());
    }

    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid() ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 8) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (::lstat(path.c_str(), &st) == 0) {
        dev_ = st.st_dev;
        ino_ = st.st_ino;
    }
    listener_ = std::move(fd);
    path_ = path;
    return true;
}

void ControlServer::add_poll_fds(std::vector<pollfd>& fds) const {
    fds.push_back({listener_.get(), POLLIN, 0});
    for (const Client& c : clients_) {
        short events = 0;
        if (!c.eof && c.out.size() < kMaxPendingOutput) events |= POLLIN;
        if (!c.out.empty()) events |= POLLOUT;
        fds.push_back({c.fd.get(), events, 0});
    }
}

void ControlServer::service(const pollfd* fds, const Handler& handler) {
    // Entries follow add_poll_fds: the listener, then the clients as they were then.
    const std::size_t known = clients_.size();
    for (std::size_t i = 0; i < known; ++i) {
        Client& c = clients_[i];
        const short revents = fds[i + 1].revents;
        if (revents & (POLLIN | POLLHUP | POLLERR)) read_from(c, handler);
        if (!c.out.empty()) write_to(c);
    }
    std::erase_if(clients_, [](const Client& c) { return c.broken || (c.eof && c.out.empty()); });
    if (fds[0].revents & POLLIN) accept_clients();
}

void ControlServer::flush() {
    for (Client& c : clients_) {
        if (!c.out.empty()) write_to(c);
    }
}

void ControlServer::accept_clients() {
    for (;;) {
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid()) return;
        if (clients_.size() >= kMaxClients) {
            static constexpr std::string_view busy = "error too many clients\n";
            [[maybe_unused]] ssize_t n = ::send(fd.get(), busy.data(), busy.size(), MSG_NOSIGNAL);
            continue;
        }
        clients_.push_back(Client{.fd = std::move(fd)});
    }
}

void ControlServer::read_from(Client& c, const Handler& handler) {
    char buf[512];
    const ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) c.broken = true;
        return;
    }
    if (n == 0) {
        // A request cut off by the end of input still gets its answer.
        c.eof = true;
        if (!c.in.empty() && !c.discarding) take_request(c, handler);
        return;
    }
    for (char ch : std::string_view(buf, static_cast<std::size_t>(n))) {
        if (c.discarding) {
            c.discarding = ch != '\n';
        } else if (ch == '\n') {
            take_request(c, handler);
        } else if (c.in.size() >= kMaxRequest) {
            c.out += "error request too long\n";
            c.in.clear();
            c.discarding = true;
        } else {
            c.in += ch;
        }
    }
}

void ControlServer::take_request(Client& c, const Handler& handler) {
    std::string_view request = c.in;
    if (!request.empty() && request.back() == '\r') request.remove_suffix(1);
    c.out += handler(request);
    c.out += '\n';
    c.in.clear();
}

void ControlServer::write_to(Client& c) {
    const ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
        c.out.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        c.broken = true;
    }
}

}  // namespace upssim
