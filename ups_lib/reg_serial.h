// A record stored as one binary registry value holding exactly its archive bytes.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"
#include "serializable.h"

namespace ups {

// Where the agent keeps its records, under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kAgentKey = "Software\\Stavlen\\Torvane";

enum class LoadResult {
    Missing,     // no key or no value (or no location set): the record kept what it held
    Loaded,      // every field was read
    Partial,     // the value ended early or was malformed: the fields read so far were taken
    Unreadable,  // the value is there but cannot be read (permissions, too large): the record
                 // kept what it held, and the value must not be replaced as if it were missing
};

class CRegSerial : public Serializable {
  public:
    void SetLocation(std::string_view key, std::string_view value);
    const std::string& Key() const { return key_; }
    const std::string& Value() const { return value_; }

    // Reads the record from its value. A missing or unreadable value leaves the record as it
    // is; a short or malformed one stops at the first bad field, the fields before it keep what
    // was read.
    LoadResult Load(platform::Registry& registry);
    LoadResult Load() { return Load(platform::SystemRegistry()); }
    // Writes the record's bytes as the whole value; false when nothing could be written (also
    // when the record is too large for a registry value).
    bool Store(platform::Registry& registry);
    bool Store() { return Store(platform::SystemRegistry()); }

  protected:
    CRegSerial(std::string_view key, std::string_view value) : key_(key), value_(value) {}
    CRegSerial(const CRegSerial&) = default;
    CRegSerial& operator=(const CRegSerial&) = default;

  private:
    std::string key_;
    std::string value_;
};

// Loads any record from a byte buffer the way Load does (first bad field ends it).
LoadResult LoadRecordBytes(Serializable& record, std::span<const std::uint8_t> bytes);

}  // namespace ups
