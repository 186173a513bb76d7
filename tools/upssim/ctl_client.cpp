#include "ctl_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "control_server.h"
#include "unique_fd.h"

namespace upssim {
namespace {

constexpr int kAnswerTimeoutMs = 5000;

bool send_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int run_ctl(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: upssim ctl SOCKPATH WORDS...\n", stderr);
        return 2;
    }
    const std::string path = argv[2];
    std::string request;
    for (int i = 3; i < argc; ++i) {
        if (i > 3) request += ' ';
        request += argv[i];
    }
    if (request.size() > ControlServer::kMaxRequest || request.find('\n') != std::string::npos) {
        std::fputs("upssim ctl: request too long or spans lines\n", stderr);
        return 1;
    }

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "upssim ctl: %s: socket path too long\n", path.c_str());
        return 1;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        !send_all(fd.get(), request + '\n')) {
        std::fprintf(stderr, "upssim ctl: %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }

    std::string answer;
    char buf[256];
    while (answer.find('\n') == std::string::npos && answer.size() < 4096) {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, kAnswerTimeoutMs) <= 0) break;
        const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        answer.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t end = answer.find('\n');
    if (end == std::string::npos) {
        std::fputs("upssim ctl: no answer\n", stderr);
        return 1;
    }
    answer.resize(end);
    std::printf("%s\n", answer.c_str());
    return answer == "ok" || answer.starts_with("ok ") ? 0 : 1;
}

}  // namespace upssim
