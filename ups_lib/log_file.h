// The record files of the event and data logs: a 32-bit record count at offset 0, then
// fixed-size records in the order appended.
//
// A crash or a full disk can stop an append half-way. The append therefore writes the record
// first and the count last, and every reader trusts the records that are whole rather than the
// count: a count that disagrees with them, or a torn record at the end, is repaired before the
// file is appended to again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace ups {

struct LogFileLimits {
    std::size_t recordBytes;
    // The file is kept below this size (it may grow while shorter than it).
    std::uint64_t limit;

    // Most records the file may hold and stay below the limit.
    std::uint64_t MaxRecords() const { return (limit - 1 - 4) / recordBytes; }
    // The largest file the agent leaves; anything larger was not written by it.
    std::uint64_t LargestFile() const { return limit - 1; }
    // What a reduction keeps: the newest three quarters, so that a full log is not rewritten
    // on every append and most of its history survives.
    std::uint64_t KeepOnReduce() const { return MaxRecords() * 3 / 4; }
};

inline constexpr LogFileLimits kEventFileLimits{10, 15001};
inline constexpr LogFileLimits kDataFileLimits{28, 40961};

// Largest file a reader takes into memory; a log file of ours never comes near it.
inline constexpr std::uint64_t kMaxLogFileRead = 64ULL * 1024 * 1024;

struct LogFileScan {
    std::uint32_t storedCount = 0;   // the count at offset 0 (0 when the file is shorter)
    std::uint64_t wholeRecords = 0;  // records present in full after the count
    std::uint64_t fileSize = 0;
    std::vector<std::uint8_t> bytes;  // the whole file
    // True when the count matches the whole records and nothing trails them.
    bool Consistent(std::size_t recordBytes) const {
        return fileSize == 0 ||
               (storedCount == wholeRecords && fileSize == 4 + wholeRecords * recordBytes);
    }
    // The bytes of record i (i < wholeRecords).
    std::span<const std::uint8_t> Record(std::uint64_t i, std::size_t recordBytes) const {
        return std::span<const std::uint8_t>(bytes).subspan(4 + i * recordBytes, recordBytes);
    }
};

// Reads a record file. nullopt when it is missing, unreadable or larger than kMaxLogFileRead.
std::optional<LogFileScan> ScanLogFile(const std::filesystem::path& path, std::size_t recordBytes);
// The same for a file's bytes already in memory.
LogFileScan ScanLogBytes(std::vector<std::uint8_t> bytes, std::size_t recordBytes);

// Appends one encoded record (limits.recordBytes long), creating the file if needed, repairing a
// torn tail and reducing a full file first. False when the record could not be stored; the file
// is then left with a count that matches its records.
bool AppendLogRecord(const std::filesystem::path& path, const LogFileLimits& limits,
                     std::span<const std::uint8_t> record);

// Makes the count match the whole records and drops a torn tail. False when the file could not
// be fixed (a missing file needs nothing and gives true).
bool RepairLogFile(const std::filesystem::path& path, std::size_t recordBytes);

}  // namespace ups
