#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "copy_data.h"
#include "unique_fd.h"

namespace platform {

using ups::platform::UniqueFd;

namespace {

// One message: magic, identifier, sender caption length, data length (native 32-bit words, both
// ends are on the same machine), then the caption and the data. The answer is the handler's
// result as 8 bytes, or the single byte kRefusal when the endpoint will not take the message.
constexpr std::uint32_t kMagic = 0x4B434431;
constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kMaxMessage = kHeaderBytes + kCopyDataMaxCaption + kCopyDataMaxBytes;
constexpr char kRefusal = 'R';
constexpr std::string_view kLockSuffix = "%lock";  // '%' + non-hex: no caption encodes to it

using Clock = std::chrono::steady_clock;

std::string SocketPath(const std::string& file) {
    return (CopyDataDirectory() / file).string();
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Only we and root may stand at either end of a copy-data link.
bool PeerAllowed(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        return false;
    }
    return cred.uid == 0 || cred.uid == geteuid();
}

// A directory that nobody but root or we can write: anyone else could plant an endpoint there.
bool DirectorySafe(const std::filesystem::path& dir, std::string* why) {
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        if (why) *why = dir.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || (st.st_uid != 0 && st.st_uid != geteuid()) ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        if (why) *why = dir.string() + ": not a directory only its owner may write";
        return false;
    }
    return true;
}

void Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// Waits until `fd` is readable or `deadline` passes; false on time-out.
bool WaitReadable(int fd, Clock::time_point deadline) {
    while (true) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        pollfd p{fd, POLLIN, 0};
        int rc = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 0x7FFFFFFF)));
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return true;  // let the read report it
    }
}

// Connects to the endpoint of `file`; kDelivered stands for "connected".
CopyDataStatus Connect(const std::string& file, UniqueFd& out) {
    if (file.empty() || !DirectorySafe(CopyDataDirectory(), nullptr)) {
        return CopyDataStatus::kRefused;
    }
    sockaddr_un addr;
    if (!FillAddress(SocketPath(file), addr)) return CopyDataStatus::kRefused;
    UniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd) return CopyDataStatus::kNoWindow;
    int rc;
    do {
        rc = connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return errno == EACCES || errno == EPERM ? CopyDataStatus::kRefused
                                                 : CopyDataStatus::kNoWindow;
    }
    if (!PeerAllowed(fd.get())) return CopyDataStatus::kRefused;
    out = std::move(fd);
    return CopyDataStatus::kDelivered;
}

void PutWord(std::string& out, std::uint32_t v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

std::uint32_t GetWord(const char* at) {
    std::uint32_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

}  // namespace

std::filesystem::path CopyDataDirectory() {
    const char* dir = std::getenv("TORVANE_RUNDIR");
    return dir != nullptr && *dir != '\0' ? std::filesystem::path(dir)
                                          : std::filesystem::path("/run/torvane");
}

CopyDataResult SendCopyData(std::string_view caption, std::uint32_t identifier,
                            std::string_view data, std::string_view sender,
                            std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    CopyDataResult result;
    if (data.size() > kCopyDataMaxBytes || sender.size() > kCopyDataMaxCaption) {
        result.status = CopyDataStatus::kRefused;
        return result;
    }
    UniqueFd fd;
    result.status = Connect(detail::CopyDataFileName(caption), fd);
    if (result.status != CopyDataStatus::kDelivered) return result;

    std::string message;
    message.reserve(kHeaderBytes + sender.size() + data.size());
    PutWord(message, kMagic);
    PutWord(message, identifier);
    PutWord(message, static_cast<std::uint32_t>(sender.size()));
    PutWord(message, static_cast<std::uint32_t>(data.size()));
    message.append(sender);
    message.append(data);
    // A message goes whole or not at all; the socket buffer holds more than the largest one.
    ssize_t sent;
    do {
        sent = send(fd.get(), message.data(), message.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    // An endpoint that refused us may have answered and closed before we got to send.
    if (sent == static_cast<ssize_t>(message.size()) && !WaitReadable(fd.get(), deadline)) {
        result.status = CopyDataStatus::kTimedOut;
        return result;
    }
    char answer[16];
    ssize_t n;
    // A receiver that closes with our message unread reports a reset first; what it answered
    // before closing is still there behind it.
    int resets = 0;
    do {
        n = recv(fd.get(), answer, sizeof answer, MSG_DONTWAIT);
    } while (n < 0 && (errno == EINTR || (errno == ECONNRESET && resets++ == 0)));
    if (n == static_cast<ssize_t>(sizeof(std::int64_t))) {
        std::int64_t value;
        std::memcpy(&value, answer, sizeof value);
        result.status = CopyDataStatus::kDelivered;
        result.result = static_cast<std::intptr_t>(value);
    } else if (n == 1 && answer[0] == kRefusal) {
        result.status = CopyDataStatus::kRefused;
    } else {
        result.status = CopyDataStatus::kBroken;  // the receiver closed, died or answered junk
    }
    return result;
}

bool FindCopyDataWindow(std::string_view caption) {
    UniqueFd fd;
    return Connect(detail::CopyDataFileName(caption), fd) == CopyDataStatus::kDelivered;
}

// ---- the endpoint

struct CopyDataEndpoint::Impl {
    WindowHandle window;
    std::string socketPath;
    UniqueFd lock;
    UniqueFd listener;
    UniqueFd stopRead;
    UniqueFd stopWrite;
    std::jthread thread;

    ~Impl() {
        if (stopWrite) {
            char c = 0;
            while (write(stopWrite.get(), &c, 1) < 0 && errno == EINTR) {
            }
        }
        if (thread.joinable()) thread.join();
        // Still under the lock: nobody else can have bound the name meanwhile.
        if (listener) unlink(socketPath.c_str());
    }

    // False when the endpoint is to stop.
    bool WaitFor(int fd, int timeoutMs, bool& ready) const {
        pollfd p[2] = {{fd, POLLIN, 0}, {stopRead.get(), POLLIN, 0}};
        int rc;
        do {
            rc = poll(p, 2, timeoutMs);
        } while (rc < 0 && errno == EINTR);
        if (rc > 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return false;
        ready = rc > 0;
        return true;
    }

    void Run() {
        std::vector<char> buffer(kMaxMessage + 1);
        while (true) {
            bool ready = false;
            if (!WaitFor(listener.get(), -1, ready)) return;
            if (!ready) continue;
            UniqueFd conn(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!conn) continue;
            if (!PeerAllowed(conn.get())) {
                send(conn.get(), &kRefusal, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                continue;
            }
            // A peer that connects and says nothing holds the endpoint no longer than a sender
            // would wait for it.
            if (!WaitFor(conn.get(), static_cast<int>(kCopyDataTimeout.count()), ready)) return;
            if (!ready) continue;
            iovec iov{buffer.data(), buffer.size()};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            ssize_t n = recvmsg(conn.get(), &msg, MSG_DONTWAIT);
            if (n <= 0) continue;  // the sender went away (or only looked us up)
            auto size = static_cast<std::size_t>(n);
            CopyDataMessage message;
            if ((msg.msg_flags & MSG_TRUNC) != 0 || !Parse(buffer.data(), size, message)) {
                send(conn.get(), &kRefusal, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                continue;
            }
            std::intptr_t handled =
                window.Send(kWmCopyData, 0, reinterpret_cast<std::intptr_t>(&message));
            auto answer = static_cast<std::int64_t>(handled);
            // A sender that gave up has closed its end: nothing to tell it.
            send(conn.get(), &answer, sizeof answer, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }

    static bool Parse(const char* at, std::size_t size, CopyDataMessage& out) {
        if (size < kHeaderBytes || GetWord(at) != kMagic) return false;
        std::uint32_t senderBytes = GetWord(at + 8);
        std::uint32_t dataBytes = GetWord(at + 12);
        if (senderBytes > kCopyDataMaxCaption || dataBytes > kCopyDataMaxBytes ||
            kHeaderBytes + senderBytes + dataBytes != size) {
            return false;
        }
        out.identifier = GetWord(at + 4);
        out.sender = std::string_view(at + kHeaderBytes, senderBytes);
        out.data = std::string_view(at + kHeaderBytes + senderBytes, dataBytes);
        return true;
    }
};

CopyDataEndpoint::CopyDataEndpoint(Key, std::string caption, std::unique_ptr<Impl> impl)
    : caption_(std::move(caption)), impl_(std::move(impl)) {}

CopyDataEndpoint::~CopyDataEndpoint() = default;

std::unique_ptr<CopyDataEndpoint> CopyDataEndpoint::Open(std::string_view caption,
                                                         WindowHandle window, std::string* error) {
    std::string file = detail::CopyDataFileName(caption);
    if (file.empty()) {
        Fail(error, "not a valid caption");
        return nullptr;
    }
    auto dir = CopyDataDirectory();
    if (mkdir(dir.c_str(), 0755) == 0) {
        chmod(dir.c_str(), 0755);  // whatever the umask: others must be able to look endpoints up
    } else if (errno != EEXIST) {
        Fail(error, dir.string() + ": " + std::strerror(errno));
        return nullptr;
    }
    if (!DirectorySafe(dir, error)) return nullptr;

    auto impl = std::make_unique<Impl>();
    impl->window = window;
    impl->socketPath = SocketPath(file);
    sockaddr_un addr;
    if (!FillAddress(impl->socketPath, addr)) {
        Fail(error, impl->socketPath + ": path too long");
        return nullptr;
    }
    // The lock says who owns the name, so a socket left by a process that died can be replaced
    // while a live one never is.
    std::string lockPath = SocketPath(file + std::string(kLockSuffix));
    impl->lock = UniqueFd(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!impl->lock) {
        Fail(error, lockPath + ": " + std::strerror(errno));
        return nullptr;
    }
    if (flock(impl->lock.get(), LOCK_EX | LOCK_NB) != 0) {
        std::string text(1, '"');
        text.append(caption).append("\" is open in another program");
        Fail(error, std::move(text));
        return nullptr;
    }
    unlink(impl->socketPath.c_str());
    UniqueFd listener(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!listener ||
        bind(listener.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        Fail(error, impl->socketPath + ": " + std::strerror(errno));
        return nullptr;
    }
    impl->listener = std::move(listener);  // from here the destructor removes the file
    // Nobody can connect before listen(), so the mode is right before anyone can try.
    if (chmod(impl->socketPath.c_str(), 0600) != 0 || listen(impl->listener.get(), 16) != 0) {
        Fail(error, impl->socketPath + ": " + std::strerror(errno));
        return nullptr;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        Fail(error, std::string("pipe: ") + std::strerror(errno));
        return nullptr;
    }
    impl->stopRead = UniqueFd(pipeFds[0]);
    impl->stopWrite = UniqueFd(pipeFds[1]);
    Impl* raw = impl.get();
    impl->thread = std::jthread([raw] { raw->Run(); });
    return std::make_unique<CopyDataEndpoint>(Key(), std::string(caption), std::move(impl));
}

}  // namespace platform

#endif  // _WIN32
