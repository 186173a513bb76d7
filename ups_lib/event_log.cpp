#include "event_log.h"

#include <system_error>

#include "event_texts.h"
#include "log_list.h"
#include "platform/paths.h"

namespace ups {

CEventLog::CEventLog(std::string_view source)
    : CEventLog(source, Setup{platform::ProgramDirectory() / (std::string(source) + ".evt"),
                              platform::ProgramPath(), &platform::SystemRegistry(),
                              &platform::DefaultSystemLog()}) {}

CEventLog::CEventLog(std::string_view source, const Setup& setup)
    : source_(source), file_(setup.file), registry_(*setup.registry), systemLog_(*setup.systemLog) {
    Register(setup.programPath);
}

void CEventLog::Register(const std::filesystem::path& programPath) {
    const std::string key = std::string(kEventSourceKeyPrefix) + source_;
    registered_ = registry_.CreateKey(key) &&
                  registry_.WriteString(key, "EventMessageFile", platform::ValueType::ExpandString,
                                        programPath.string()) &&
                  registry_.WriteDword(key, "TypesSupported", 7);
    if (!registered_) systemLog_.Alert(source_, key + "\nCan not create register key");
}

void CEventLog::Serialize(Archive& ar) {
    std::lock_guard lock(mutex_);
    SerializeRecordList(ar, records_);
}

bool CEventLog::AddEvent(const CEventLogRecord& record) {
    systemLog_.Report(source_, record.type, record.eventId, EventText(record.eventId));
    CEventLogRecord copy = record;
    const auto bytes = ToBytes(copy);
    std::lock_guard lock(mutex_);
    return AppendLogRecord(file_, kEventFileLimits, bytes);
}

bool CEventLog::ReadAll() {
    std::lock_guard lock(mutex_);
    records_.clear();
    bool consistent = true;
    auto records = ReadEventFile(file_, &consistent);
    if (!records) return false;
    records_ = std::move(*records);
    if (!consistent) RepairLogFile(file_, CEventLogRecord::kBytes);
    return true;
}

void CEventLog::Clear() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    records_.clear();
}

std::vector<CEventLogRecord> CEventLog::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

}  // namespace ups
