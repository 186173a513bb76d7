#include "data_log.h"

#include <system_error>

#include "log_list.h"
#include "log_reader.h"
#include "platform/paths.h"

namespace ups {

std::filesystem::path DataFileFor(const std::filesystem::path& programPath) {
    std::string s = programPath.string();
    if (s.size() >= 3) s.resize(s.size() - 3);
    return s + "dat";
}

CDataLog::CDataLog() : file_(DataFileFor(platform::ProgramPath())) {}

void CDataLog::Serialize(Archive& ar) {
    std::lock_guard lock(mutex_);
    SerializeRecordList(ar, records_);
}

bool CDataLog::AddSample(const CDataLogRecord& record) {
    CDataLogRecord copy = record;
    const auto bytes = ToBytes(copy);
    std::lock_guard lock(mutex_);
    return AppendLogRecord(file_, kDataFileLimits, bytes);
}

bool CDataLog::ReadAll() {
    std::lock_guard lock(mutex_);
    records_.clear();
    bool consistent = true;
    auto records = ReadDataFile(file_, &consistent);
    if (!records) return false;
    records_ = std::move(*records);
    if (!consistent) RepairLogFile(file_, CDataLogRecord::kBytes);
    return true;
}

void CDataLog::Clear() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    std::filesystem::remove(file_, ec);
}

std::vector<CDataLogRecord> CDataLog::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void CDataLog::SetRecords(std::vector<CDataLogRecord> records) {
    std::lock_guard lock(mutex_);
    records_ = std::move(records);
}

}  // namespace ups
