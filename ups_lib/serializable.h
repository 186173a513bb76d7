// Every record that travels or is stored writes itself to an archive in its fixed field order.
#pragma once

#include "archive.h"

namespace ups {

class Serializable {
  public:
    virtual ~Serializable() = default;
    // The record's class name as the link and the tools know it ("CConfig", "CUPSStatus", ...).
    virtual const char* ClassName() const = 0;
    virtual void Serialize(Archive& ar) = 0;

  protected:
    Serializable() = default;
    Serializable(const Serializable&) = default;
    Serializable& operator=(const Serializable&) = default;
};

// Loads a record from bytes in memory. Returns the number of bytes consumed, or throws
// ArchiveError; on a throw the fields read before the error keep their new values.
template <typename Record>
std::size_t FromBytes(Record& record, std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    Archive ar = Archive::Loading(source);
    record.Serialize(ar);
    return static_cast<std::size_t>(ar.Consumed());
}

}  // namespace ups
