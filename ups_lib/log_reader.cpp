#include "log_reader.h"

namespace ups {

namespace {

template <typename Record>
std::vector<Record> Records(const LogFileScan& scan, bool* consistent) {
    if (consistent) *consistent = scan.Consistent(Record::kBytes);
    std::vector<Record> records;
    for (std::uint64_t i = 0; i < scan.wholeRecords; ++i) {
        Record r;
        FromBytes(r, scan.Record(i, Record::kBytes));
        records.push_back(r);
    }
    return records;
}

template <typename Record>
std::optional<std::vector<Record>> ReadRecordFile(const std::filesystem::path& path,
                                                  bool* consistent) {
    const auto scan = ScanLogFile(path, Record::kBytes);
    if (!scan) return std::nullopt;
    return Records<Record>(*scan, consistent);
}

}  // namespace

std::optional<std::vector<CEventLogRecord>> ReadEventFile(const std::filesystem::path& path,
                                                          bool* consistent) {
    return ReadRecordFile<CEventLogRecord>(path, consistent);
}

std::optional<std::vector<CDataLogRecord>> ReadDataFile(const std::filesystem::path& path,
                                                        bool* consistent) {
    return ReadRecordFile<CDataLogRecord>(path, consistent);
}

std::vector<CEventLogRecord> EventFileRecords(std::vector<std::uint8_t> bytes, bool* consistent) {
    return Records<CEventLogRecord>(ScanLogBytes(std::move(bytes), CEventLogRecord::kBytes),
                                    consistent);
}

std::vector<CDataLogRecord> DataFileRecords(std::vector<std::uint8_t> bytes, bool* consistent) {
    return Records<CDataLogRecord>(ScanLogBytes(std::move(bytes), CDataLogRecord::kBytes),
                                   consistent);
}

}  // namespace ups
