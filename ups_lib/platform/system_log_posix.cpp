#include <syslog.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "system_log.h"

namespace ups::platform {

namespace {

int Priority(std::uint16_t type) {
    switch (type) {
        case 1:
            return LOG_ERR;
        case 2:
            return LOG_WARNING;
        default:
            return LOG_INFO;
    }
}

class Syslog final : public SystemLog {
  public:
    void Report(std::string_view source, std::uint16_t type, std::uint32_t id,
                std::string_view text) override {
        std::lock_guard lock(mutex_);
        // openlog keeps the pointer it is given: the identity must outlive the next call.
        ident_ = std::string(source);
        ::openlog(ident_.c_str(), LOG_PID, LOG_DAEMON);
        ::syslog(Priority(type), "[%u] %.*s", static_cast<unsigned>(id),
                 static_cast<int>(text.size()), text.data());
    }

    void Alert(std::string_view caption, std::string_view text) override {
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        ::syslog(LOG_ERR, "%.*s", static_cast<int>(text.size()), text.data());
    }

  private:
    std::mutex mutex_;
    std::string ident_;
};

}  // namespace

std::unique_ptr<SystemLog> MakeSystemLog() {
    return std::make_unique<Syslog>();
}

SystemLog& DefaultSystemLog() {
    static std::unique_ptr<SystemLog> log = MakeSystemLog();
    return *log;
}

}  // namespace ups::platform
