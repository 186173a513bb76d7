#include "command_log.h"

#include <fcntl.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace upssim {

std::string escape_bytes(std::string_view bytes) {
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c > 0x7e) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

bool CommandLog::open(const std::string& path, std::string& error) {
    fd_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd_.valid()) error = path + ": " + std::strerror(errno);
    return fd_.valid();
}

void CommandLog::append(std::string_view line) {
    if (!fd_.valid()) return;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%lld.%03ld\t", static_cast<long long>(now.tv_sec),
                  now.tv_nsec / 1000000);
    const std::string record = stamp + escape_bytes(line) + '\n';
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(fd_.get(), record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::fprintf(stderr, "upssim: command log: %s\n", std::strerror(errno));
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace upssim
