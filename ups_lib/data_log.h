// The data log: periodic samples of the UPS readings in "Torvane.dat" beside the program.
#pragma once

#include <filesystem>
#include <mutex>
#include <vector>

#include "log_file.h"
#include "log_records.h"

namespace ups {

class CDataLog final : public Serializable {
  public:
    // The agent's own file: the program's path with "exe" replaced by "dat".
    CDataLog();
    explicit CDataLog(std::filesystem::path file) : file_(std::move(file)) {}
    CDataLog(const CDataLog&) = delete;
    CDataLog& operator=(const CDataLog&) = delete;

    const char* ClassName() const override { return "CDataLog"; }
    void Serialize(Archive& ar) override;

    bool AddSample(const CDataLogRecord& record);
    bool ReadAll();
    // Deletes the file.
    void Clear();

    std::vector<CDataLogRecord> Records() const;
    void SetRecords(std::vector<CDataLogRecord> records);
    const std::filesystem::path& File() const { return file_; }

  private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::vector<CDataLogRecord> records_;
};

// The data file name derived from a program path: its last three characters become "dat".
std::filesystem::path DataFileFor(const std::filesystem::path& programPath);

}  // namespace ups
