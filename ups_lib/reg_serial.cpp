#include "reg_serial.h"

#include "trace.h"

namespace ups {

void CRegSerial::SetLocation(std::string_view key, std::string_view value) {
    key_ = key;
    value_ = value;
}

LoadResult LoadRecordBytes(Serializable& record, std::span<const std::uint8_t> bytes) {
    try {
        MemorySource source(bytes);
        Archive ar = Archive::Loading(source);
        record.Serialize(ar);
        return LoadResult::Loaded;
    } catch (const ArchiveError& e) {
        Trace(std::string(record.ClassName()) + " load: " + e.what() + "\n");
        return LoadResult::Partial;
    }
}

LoadResult CRegSerial::Load(platform::Registry& registry) {
    if (key_.empty() || value_.empty()) return LoadResult::Missing;
    const auto read = registry.ReadValue(key_, value_);
    switch (read.status) {
        case platform::ReadStatus::NotFound:
            return LoadResult::Missing;
        case platform::ReadStatus::Unreadable:
            Trace(std::string(ClassName()) + " load: " + read.problem + "\n");
            return LoadResult::Unreadable;
        case platform::ReadStatus::Found:
            break;
    }
    return LoadRecordBytes(*this, read.bytes);
}

bool CRegSerial::Store(platform::Registry& registry) {
    if (key_.empty() || value_.empty()) return false;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = ToBytes(*this);
    } catch (const ArchiveError& e) {
        Trace(std::string(ClassName()) + " store: " + e.what() + "\n");
        return false;
    }
    return registry.WriteValue(key_, value_, platform::ValueType::Binary, bytes);
}

}  // namespace ups
