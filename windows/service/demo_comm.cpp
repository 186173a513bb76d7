#include "demo_comm.h"

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "ups_lib/trace.h"

namespace torvane {
namespace {

constexpr std::size_t kFirstReplyLine = 10;  // the reply to "I"
constexpr std::size_t kSkippedLine = 11;
constexpr std::size_t kStatusEntry = 2;  // first entry after the "I" and "F" replies

#ifdef _WIN32
// No FIFOs to fear here; a directory or device still fails the regular-file test.
bool ReadBounded(const std::string& path, std::size_t limit, std::string& text) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.resize(limit);
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return !in.bad();
}
#else
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Reads at most `limit` bytes. O_NONBLOCK keeps a FIFO or a device from holding the UPS
// thread at open; only a regular file gets as far as a read.
bool ReadBounded(const std::string& path, std::size_t limit, std::string& text) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    text.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd.get(), text.data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return true;
}
#endif

}  // namespace

bool CDemoComm::Open(const std::string& fileName) {
    std::string text;
    if (!ReadBounded(fileName, kMaxFileBytes, text)) {
        ups::Trace("Open Demo.txt error");
        return false;
    }
    // A NUL has no place in a reply and means this is not the text file it claims to be.
    if (text.find('\0') != std::string::npos) {
        ups::Trace("Open CDemoComm error");
        return false;
    }

    std::vector<std::string> entries;
    std::string_view rest = text;
    for (std::size_t number = 1; !rest.empty(); ++number) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (number < kFirstReplyLine || number == kSkippedLine) continue;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        entries.emplace_back(line.substr(0, kMaxLineBytes));
    }

    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
    next_ = 0;
    justOpened_ = true;
    return true;
}

int CDemoComm::Write(const char* text) {
    const std::string_view command = text ? text : "";
    bool connected = false;
    {
        std::lock_guard lock(mutex_);
        if (command == "I\r") next_ = 0;
        if (command == "F\r") next_ = 1;
        connected = justOpened_;
        justOpened_ = false;
    }
    // Outside the lock: the owner may read from us before it returns.
    if (connected) {
        Notify(kCommConnected);
    } else {
        Notify(kCommDataReady, static_cast<int>(command.size()));
    }
    return static_cast<int>(command.size());
}

int CDemoComm::Read(char* buffer, int maxBytes) {
    std::lock_guard lock(mutex_);
    if (entries_.empty() || buffer == nullptr || maxBytes <= 0) return 0;
    // With fewer entries than a full file has, "F" or the wrap back to the status replies can
    // point past the end; the list then answers from its start again.
    if (next_ >= entries_.size()) next_ = entries_.size() > kStatusEntry ? kStatusEntry : 0;
    std::string reply = entries_[next_] + eventChar_;
    if (++next_ >= entries_.size()) next_ = entries_.size() > kStatusEntry ? kStatusEntry : 0;
    const std::size_t n = std::min(reply.size(), static_cast<std::size_t>(maxBytes));
    std::memcpy(buffer, reply.data(), n);
    return static_cast<int>(n);
}

void CDemoComm::Close() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    next_ = 0;
    justOpened_ = false;
}

void CDemoComm::SetEventChar(char c) {
    std::lock_guard lock(mutex_);
    eventChar_ = c;
}

std::size_t CDemoComm::EntryCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace torvane
