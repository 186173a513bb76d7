// What the library's tests share: a private temporary directory, the data files, a byte sink
// that fails like a full disk, a time zone switch, and Windows' rule against replacing open files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ups_lib/byte_stream.h"

namespace ups::test {

std::vector<std::uint8_t> ReadData(const std::string& name);
std::filesystem::path DataPath(const std::string& name);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Accepts the first `budget` bytes, then fails every write as a full disk would.
class FailSink final : public ByteSink {
  public:
    explicit FailSink(std::size_t budget) : budget_(budget) {}
    void Write(std::span<const std::uint8_t> bytes) override;
    std::size_t written() const { return written_; }

  private:
    std::size_t budget_;
    std::size_t written_ = 0;
};

// A source that cannot tell how much is left, like a socket; it hands out data in small pieces.
class StreamSource final : public ByteSource {
  public:
    explicit StreamSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(std::span<std::uint8_t> out) override;

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Sets TZ for the life of the object.
class ScopedTz {
  public:
    explicit ScopedTz(const char* tz);
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;
    ~ScopedTz();

  private:
    std::optional<std::string> old_;
};

// While one exists, renaming a file over one that this process holds open fails with EACCES, as
// MoveFileEx fails with a sharing violation on Windows when the C runtime holds the target open.
// Code that passes here does not depend on POSIX letting an open file be replaced.
class WindowsSharingRules {
  public:
    WindowsSharingRules();
    WindowsSharingRules(const WindowsSharingRules&) = delete;
    WindowsSharingRules& operator=(const WindowsSharingRules&) = delete;
    ~WindowsSharingRules();
    // Replacements let through and refused while this object lived.
    int replaced() const;
    int refused() const;
};

// How many descriptors this process has open.
std::size_t OpenDescriptorCount();

// A local calendar time, in the current TZ.
std::int64_t Local(int year, int month, int day, int hour, int minute, int second = 0);

}  // namespace ups::test
