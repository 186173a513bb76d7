#include "state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "q1_format.h"
#include "unique_fd.h"

namespace upssim {
namespace {

constexpr const char* kBitNames[kBitCount] = {
    "utility_fail", "battery_low", "boost", "ups_failed", "standby", "test", "shutdown", "beeper",
};

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string render_state_json(const UpsState& ups, ReplyMode mode) {
    const StatusBits bits = ups.bits();
    nlohmann::ordered_json flags = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < kBitCount; ++i) flags[kBitNames[i]] = bits[i];

    nlohmann::ordered_json state;
    state["status"] = status_reply(ups);
    state["model"] = model_reply(ups);
    state["rating"] = rating_reply(ups);
    state["bits"] = bits_text(bits);
    state["flags"] = std::move(flags);
    state["output"] = ups.output_on() ? "on" : "off";
    state["reply"] = reply_mode_name(mode);
    return state.dump(2) + '\n';
}

bool StateFile::update(const UpsState& ups, ReplyMode mode) {
    if (path_.empty()) return true;
    std::string text = render_state_json(ups, mode);
    if (text == written_) return true;

    const std::string temp = path_ + ".tmp-" + std::to_string(::getpid());
    int error = 0;
    {
        UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd.valid() || !write_all(fd.get(), text)) error = errno ? errno : EIO;
    }
    if (error == 0 && ::rename(temp.c_str(), path_.c_str()) != 0) error = errno;
    if (error != 0) {
        if (!failing_)
            std::fprintf(stderr, "upssim: state file %s: %s\n", path_.c_str(),
                         std::strerror(error));
        failing_ = true;
        ::unlink(temp.c_str());
        return false;
    }
    failing_ = false;
    written_ = std::move(text);
    return true;
}

}  // namespace upssim
