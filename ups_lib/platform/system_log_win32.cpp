#include <windows.h>

#include <wtsapi32.h>

#include <string>

#include "system_log.h"
#include "ups_lib/event_texts.h"
#include "wide_text.h"

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

    // A box on the console user's desktop that nobody has to close: the caller is the UPS's
    // or the frame's thread, which must go on watching while the box waits in a server room.
    void Alert(std::string_view caption, std::string_view text) override {
        std::wstring c = Wide(caption), t = Wide(text);
        DWORD response = 0;
        WTSSendMessageW(WTS_CURRENT_SERVER_HANDLE, WTSGetActiveConsoleSessionId(), c.data(),
                        static_cast<DWORD>(c.size() * sizeof(wchar_t)), t.data(),
                        static_cast<DWORD>(t.size() * sizeof(wchar_t)), MB_OK | MB_ICONSTOP, 0,
                        &response, FALSE);
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
