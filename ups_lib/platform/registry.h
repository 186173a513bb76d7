// Registry values under HKEY_LOCAL_MACHINE, the way the agent and the panel use them: read a
// whole value, write a whole value, create a key. Key paths use backslashes and compare without
// regard to case, as on Windows ("SoftWare\Stavlen\Torvane" and "Software\Stavlen\Torvane" are
// one key).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ups::platform {

enum class ValueType {
    Binary,        // REG_BINARY: the records
    ExpandString,  // REG_EXPAND_SZ: stored with its terminating NUL, as Windows keeps it
    Dword,         // REG_DWORD: 4 bytes, little-endian
};

// What a read found. A value that is there but cannot be read is never reported as missing:
// a caller that took it for missing would write defaults over it, and a value that only needs
// its permissions fixed would be lost.
enum class ReadStatus {
    Found,
    NotFound,    // no such key or value
    Unreadable,  // it exists but cannot be read: no permission, an I/O error, too large
};

struct ValueRead {
    ReadStatus status = ReadStatus::NotFound;
    std::vector<std::uint8_t> bytes;  // the value, when found
    std::string problem;              // why it is unreadable, for messages
};

class Registry {
  public:
    // No registry value the programs keep comes near this. A larger one is unreadable rather
    // than read into memory, and therefore is never written either.
    static constexpr std::uint64_t kMaxValueSize = 1024 * 1024;

    virtual ~Registry() = default;
    virtual ValueRead ReadValue(std::string_view key, std::string_view name) = 0;
    // Creates the key if needed and replaces the value as a whole. False when the key cannot be
    // created, the value cannot be written or is larger than kMaxValueSize; the old value then
    // stays as it was.
    bool WriteValue(std::string_view key, std::string_view name, ValueType type,
                    std::span<const std::uint8_t> bytes);
    virtual bool CreateKey(std::string_view key) = 0;
    // Removes the key with its values and subkeys. True when it is gone afterwards, also when it
    // was never there; the root itself cannot be removed.
    virtual bool DeleteKey(std::string_view key) = 0;

    bool WriteString(std::string_view key, std::string_view name, ValueType type,
                     std::string_view text);
    bool WriteDword(std::string_view key, std::string_view name, std::uint32_t value);

  protected:
    // WriteValue once the size is known to fit.
    virtual bool StoreValue(std::string_view key, std::string_view name, ValueType type,
                            std::span<const std::uint8_t> bytes) = 0;
};

// A registry kept as a directory tree: a directory per key, a file per value holding exactly the
// value's bytes, each write atomic (temporary file, then rename). The POSIX registry.
std::unique_ptr<Registry> MakeFileRegistry(std::filesystem::path root);
// The same, with every value readable by its owner alone (a user's settings with passwords).
std::unique_ptr<Registry> MakePrivateFileRegistry(std::filesystem::path root);

// The registry of this system: the real one on Windows; on POSIX a file registry rooted at
// $TORVANE_REGISTRY, or /var/lib/torvane/registry when that is not set.
std::unique_ptr<Registry> MakeSystemRegistry();

// The process-wide system registry, created on first use.
Registry& SystemRegistry();

}  // namespace ups::platform
