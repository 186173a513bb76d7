#include <windows.h>

#include <string>

#include "system_log.h"
#include "ups_lib/event_texts.h"

namespace ups::platform {

namespace {

class Win32EventLog final : public SystemLog {
  public:
    // The viewer takes the text from the program's message table and fills its "%1" from the
    // one string given; a message without an insert shows the string only where the table is
    // missing (the helper programs' id 0).
    void Report(std::string_view source, std::uint16_t type, std::uint32_t id,
                std::string_view text) override {
        const std::string name(source);
        HANDLE h = RegisterEventSourceA(nullptr, name.c_str());
        if (h == nullptr) return;
        std::string insert(text);
        const std::string_view message = ups::EventText(id);
        const auto mark = message.find("%1");
        if (mark != std::string_view::npos && text.substr(0, mark) == message.substr(0, mark)) {
            insert.erase(0, mark);
        }
        const char* strings[1] = {insert.c_str()};
        ReportEventA(h, type, 0, id, nullptr, 1, 0, strings, nullptr);
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
