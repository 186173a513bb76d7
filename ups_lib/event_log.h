// The event log: every event goes to the operating system's log and to the event file
// "<source>.evt" in the program directory, which clients read back over the link.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "log_reader.h"
#include "log_records.h"
#include "platform/registry.h"
#include "platform/system_log.h"

namespace ups {

inline constexpr std::string_view kEventSourceKeyPrefix =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

class CEventLog final : public Serializable {
  public:
    struct Setup {
        std::filesystem::path file;         // the event file
        std::filesystem::path programPath;  // what the event source points the system at
        platform::Registry* registry;
        platform::SystemLog* systemLog;
    };

    // The agent's own log: file and registry of this system.
    explicit CEventLog(std::string_view source);
    CEventLog(std::string_view source, const Setup& setup);
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    const char* ClassName() const override { return "CEventLog"; }
    // A 32-bit count, then the records (the link form of the in-memory list).
    void Serialize(Archive& ar) override;

    // Reports the event to the system and appends it to the file. False when the file could
    // not take it (the system still got the event).
    bool AddEvent(const CEventLogRecord& record);
    // Replaces the list by the file's records; a torn append is repaired on the way.
    bool ReadAll();
    // Deletes the file and empties the list.
    void Clear();

    std::vector<CEventLogRecord> Records() const;
    const std::filesystem::path& File() const { return file_; }
    const std::string& Source() const { return source_; }
    bool Registered() const { return registered_; }

  private:
    void Register(const std::filesystem::path& programPath);

    std::string source_;
    std::filesystem::path file_;
    platform::Registry& registry_;
    platform::SystemLog& systemLog_;
    bool registered_ = false;
    mutable std::mutex mutex_;
    std::vector<CEventLogRecord> records_;
};

}  // namespace ups
