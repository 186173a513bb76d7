#include "schedule.h"

#include "trace.h"

namespace ups {

void CScheduleDetail::Serialize(Archive& ar) {
    ar.Field(event);
    ar.Field(frequency);
    ar.Field(testLength);
    ar.Field(time);
}

void CSchedule::Serialize(Archive& ar) {
    std::lock_guard lock(mutex_);
    SerializeLocked(ar);
}

void CSchedule::SerializeLocked(Archive& ar) {
    if (ar.IsStoring()) {
        ar.WriteNumber(static_cast<std::uint32_t>(entries_.size()));
        for (auto& e : entries_) e.Serialize(ar);
        return;
    }
    entries_.clear();
    // The count is only trusted as far as whole entries follow it: nothing is reserved from
    // it, so a hostile count costs nothing beyond the bytes actually there.
    const std::uint32_t count = ar.ReadNumber();
    ar.AwaitItems(count, CScheduleDetail::kBytes);
    for (std::uint32_t i = 0; i < count; ++i) {
        CScheduleDetail entry;
        entry.Serialize(ar);
        entries_.push_back(entry);
    }
}

bool CSchedule::ReadAll(platform::Registry& registry) {
    std::lock_guard lock(mutex_);
    entries_.clear();
    const auto read = registry.ReadValue(kScheduleKey, kScheduleValue);
    if (read.status == platform::ReadStatus::NotFound) return true;
    if (read.status == platform::ReadStatus::Unreadable) {
        Trace("CScheduel ReadAll fail\n");
        return false;
    }
    try {
        MemorySource source(read.bytes);
        Archive ar = Archive::Loading(source);
        SerializeLocked(ar);
        return true;
    } catch (const ArchiveError&) {
        Trace("CScheduel ReadAll fail\n");
        return false;
    }
}

bool CSchedule::WriteAll(platform::Registry& registry) {
    std::vector<std::uint8_t> bytes;
    {
        std::lock_guard lock(mutex_);
        VectorSink sink(bytes);
        Archive ar = Archive::Storing(sink);
        SerializeLocked(ar);
        ar.Flush();
    }
    return registry.WriteValue(kScheduleKey, kScheduleValue, platform::ValueType::Binary, bytes);
}

void CSchedule::CopyFrom(const CSchedule& other) {
    if (&other == this) return;
    std::scoped_lock lock(mutex_, other.mutex_);
    entries_ = other.entries_;
}

void CSchedule::RemoveAll() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void CSchedule::Add(const CScheduleDetail& entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
}

std::vector<CScheduleDetail> CSchedule::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::size_t CSchedule::Count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::int64_t CSchedule::NextTime(std::uint16_t event, CScheduleDetail& entry_out,
                                 std::int64_t now) const {
    std::lock_guard lock(mutex_);
    std::int64_t kept = 0;
    for (const auto& e : entries_) {
        if (e.event != event) continue;
        const std::int64_t t = NextOccurrence(e.time, e.frequency, now);
        if (t < now) continue;
        if (kept == 0 || t < kept) {
            kept = t;
            entry_out = e;
        }
    }
    return kept;
}

std::string ScheduleProblem(const CSchedule& schedule) {
    const std::vector<CScheduleDetail> entries = schedule.Entries();
    if (entries.size() > kMaxScheduleEntries)
        return std::to_string(entries.size()) + " entries, more than " +
               std::to_string(kMaxScheduleEntries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CScheduleDetail& e = entries[i];
        const std::string entry = "entry " + std::to_string(i + 1) + ": ";
        if (e.event > kSelfTest) return entry + "event " + std::to_string(e.event);
        if (e.frequency > kEverySecondMonth)
            return entry + "frequency " + std::to_string(e.frequency);
        if (e.event == kSelfTest && e.testLength < -1)
            return entry + "test length " + std::to_string(e.testLength);
    }
    return {};
}

}  // namespace ups
