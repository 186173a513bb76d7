// Reading the event and data files back: the whole records, whatever the count says.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "log_file.h"
#include "log_records.h"

namespace ups {

// nullopt when the file is missing or unreadable; *consistent tells whether the count agreed
// with the records (false after a torn append).
std::optional<std::vector<CEventLogRecord>> ReadEventFile(const std::filesystem::path& path,
                                                          bool* consistent = nullptr);
std::optional<std::vector<CDataLogRecord>> ReadDataFile(const std::filesystem::path& path,
                                                        bool* consistent = nullptr);

// The same for a file's bytes already read (by a reader with a limit of its own).
std::vector<CEventLogRecord> EventFileRecords(std::vector<std::uint8_t> bytes,
                                              bool* consistent = nullptr);
std::vector<CDataLogRecord> DataFileRecords(std::vector<std::uint8_t> bytes,
                                            bool* consistent = nullptr);

}  // namespace ups
