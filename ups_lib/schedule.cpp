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

}  // namespace ups
