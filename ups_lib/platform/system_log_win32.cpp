#include <windows.h>

#include <string>

#include "system_log.h"

namespace ups::platform {

namespace {

class Win32EventLog final : public SystemLog {
  public:
    void Report(std::string_view source, std::uint16_t type, std::uint32_t id,
                std::string_view) override {
        const std::string name(source);
        HANDLE h = RegisterEventSourceA(nullptr, name.c_str());
        if (h == nullptr) return;
        ReportEventA(h, type, 0, id, nullptr, 0, 0, nullptr, nullptr);
        DeregisterEventSource(h);
    }

    void Alert(std::string_view caption, std::string_view text) override {
        const std::string c(caption), t(text);
        MessageBoxA(nullptr, t.c_str(), c.c_str(), MB_OK | MB_ICONSTOP | MB_SERVICE_NOTIFICATION);
    }
};

}  // namespace

std::unique_ptr<SystemLog> MakeSystemLog() {
    return std::make_unique<Win32EventLog>();
}

SystemLog& DefaultSystemLog() {
    static std::unique_ptr<SystemLog> log = MakeSystemLog();
    return *log;
}

}  // namespace ups::platform
