#include "broadcast.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "event_log.h"
#include "file_util.h"

namespace {

// The C library's login record: 384 bytes, the line (relative to /dev) at offset 8 and the
// user name at offset 44, 32 characters each and not always NUL-terminated.
constexpr std::size_t kRecordSize = 384;
constexpr std::size_t kLineOffset = 8;
constexpr std::size_t kUserOffset = 44;
constexpr std::size_t kFieldSize = 32;

std::string_view Field(const char* record, std::size_t offset) {
    return {record + offset, strnlen(record + offset, kFieldSize)};
}

bool SafeLine(std::string_view line) {
    if (line.empty() || line.front() == '/') return false;
    // No component may climb out of /dev.
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find('/', start);
        if (end == std::string_view::npos) end = line.size();
        if (line.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

void WriteTerminal(const std::string& path, std::string_view text) {
    // Look before opening: opening some devices has effects of its own (a watchdog starts).
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return;
    kelvora::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd && isatty(fd.get()))
        kelvora::WriteAll(fd.get(), text);  // a full terminal loses the line
}

}  // namespace

bool WarnTerminals(const std::string& utmp_path, std::string_view host, std::string_view message,
                   int64_t when) {
    kelvora::UniqueFd fd = kelvora::OpenRegular(utmp_path, O_RDONLY);
    if (!fd) return false;
    std::string text = "[";
    text += host;
    text += "]";
    text += message;
    text += " - ";
    text += TimeText(when);

    char record[kRecordSize];
    for (;;) {
        std::memset(record, 0, sizeof record);
        ssize_t n = ::read(fd.get(), record, sizeof record);
        if (n <= 0) break;
        if (static_cast<std::size_t>(n) < kRecordSize) continue;  // a torn last record
        if (Field(record, kUserOffset).empty()) continue;
        std::string_view line = Field(record, kLineOffset);
        if (!SafeLine(line)) continue;
        WriteTerminal("/dev/" + std::string(line), text);
    }
    return true;
}
