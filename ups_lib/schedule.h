// The schedule: timed UPS actions (switch on, shut down, self-test), registry value "Schedule".
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "schedule_time.h"
#include "serializable.h"

namespace ups {

// The schedule has always been written under this spelling; the registry treats it as the
// same key as kAgentKey.
inline constexpr std::string_view kScheduleKey = "SoftWare\\Stavlen\\Torvane";
inline constexpr std::string_view kScheduleValue = "Schedule";

enum ScheduleEvent : std::uint16_t { kSwitchOn = 0, kShutdown = 1, kSelfTest = 2 };

class CScheduleDetail final : public Serializable {
  public:
    // Size of one entry in the archive.
    static constexpr std::size_t kBytes = 12;

    CScheduleDetail() = default;
    CScheduleDetail(std::uint16_t ev, std::uint16_t freq, std::int32_t test, std::uint32_t t)
        : event(ev), frequency(freq), testLength(test), time(t) {}
    CScheduleDetail(const CScheduleDetail&) = default;
    CScheduleDetail& operator=(const CScheduleDetail&) = default;

    const char* ClassName() const override { return "CScheduleDetail"; }
    void Serialize(Archive& ar) override;
    bool operator==(const CScheduleDetail& o) const {
        return event == o.event && frequency == o.frequency && testLength == o.testLength &&
               time == o.time;
    }

    std::uint16_t event = kSwitchOn;
    std::uint16_t frequency = kOnce;
    std::int32_t testLength = 0;  // self-test: -1 until battery low, 0 ten seconds, n minutes
    std::uint32_t time = 0;       // first occurrence, seconds since 1970 UTC
};

// The list in insertion order. Every operation holds the lock for its whole duration: the UPS
// thread asks for the next time while the main thread may replace the list.
class CSchedule final : public Serializable {
  public:
    CSchedule() = default;
    CSchedule(const CSchedule&) = delete;
    CSchedule& operator=(const CSchedule&) = delete;

    const char* ClassName() const override { return "CSchedule"; }
    // A 32-bit entry count, then the entries. Loading replaces the list; on an error the
    // entries read whole before it stay.
    void Serialize(Archive& ar) override;

    // Empties the list and loads it from the registry. False after a read error (the list then
    // holds the entries read before it) and for a value that is there but cannot be read; a
    // missing value is an empty schedule.
    bool ReadAll(platform::Registry& registry);
    bool ReadAll() { return ReadAll(platform::SystemRegistry()); }
    bool WriteAll(platform::Registry& registry);
    bool WriteAll() { return WriteAll(platform::SystemRegistry()); }

    void CopyFrom(const CSchedule& other);
    void RemoveAll();
    void Add(const CScheduleDetail& entry);
    std::vector<CScheduleDetail> Entries() const;
    std::size_t Count() const;

    // The earliest occurrence, not earlier than now, among the entries of that event, and the
    // entry that gives it; 0 when none lies ahead.
    std::int64_t NextTime(std::uint16_t event, CScheduleDetail& entry_out, std::int64_t now) const;
    std::int64_t NextTime(std::uint16_t event, CScheduleDetail& entry_out) const {
        return NextTime(event, entry_out, static_cast<std::int64_t>(std::time(nullptr)));
    }
    std::int64_t NextShutdown(CScheduleDetail& entry_out) const {
        return NextTime(kShutdown, entry_out);
    }

  private:
    void SerializeLocked(Archive& ar);

    mutable std::mutex mutex_;
    std::vector<CScheduleDetail> entries_;
};

// Why `schedule` cannot be kept ("entry 3: frequency 7"), or empty when every entry is one the
// agent can act on. A list longer than kMaxScheduleEntries is refused too: the agent looks
// through the whole list at every tick.
inline constexpr std::size_t kMaxScheduleEntries = 1024;
std::string ScheduleProblem(const CSchedule& schedule);

}  // namespace ups
