// The operating system's event log as the agent uses it: an event source, entries with a type
// and a message id, and a box for the one error a user must see. On POSIX the entries go to
// syslog with the message text, since syslog has no message tables.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace ups::platform {

enum class EventType : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

class SystemLog {
  public:
    virtual ~SystemLog() = default;
    // Reports one event of the source; text is what a reader without the message table sees.
    virtual void Report(std::string_view source, std::uint16_t type, std::uint32_t id,
                        std::string_view text) = 0;
    // Shows an error to whoever sits at the machine (a message box on Windows).
    virtual void Alert(std::string_view caption, std::string_view text) = 0;
};

std::unique_ptr<SystemLog> MakeSystemLog();
SystemLog& DefaultSystemLog();

}  // namespace ups::platform
