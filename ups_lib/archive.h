// The archive: the one byte encoding in which every record of the agent and the panel is
// stored in the registry, written to files and sent over the links.
//
//   number  4 bytes, little-endian, two's complement where signed
//   word    2 bytes, little-endian
//   byte    1 byte
//   string  length prefix, then the characters (ANSI code page, no terminator):
//           0..254         one byte
//           255..65534     0xFF, then a 16-bit length
//           65535 and up   0xFF, 0xFFFF, then a 32-bit length
//
// Fields follow one another with nothing between them; a record has no header, no version and
// no checksum, so a record's Serialize is its layout. An archive either loads or stores; a
// record writes its Serialize once, with Field() calls that read or write as the archive says,
// so the two directions cannot drift apart.
//
// Errors are exceptions (ArchiveError) because a record stops at the first bad field and the
// fields read before it keep their new values; callers catch at the record boundary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "byte_stream.h"

namespace ups {

enum class ArchiveErrc {
    EndOfData,  // the data ended inside a field: a truncated value or file
    Corrupt,    // a length or count that cannot be right (more than the bytes that remain)
    Io,         // the device under the archive failed
};

class ArchiveError : public std::runtime_error {
  public:
    ArchiveError(ArchiveErrc code, const std::string& what)
        : std::runtime_error(what), code_(code) {}
    ArchiveErrc code() const { return code_; }

  private:
    ArchiveErrc code_;
};

class Archive {
  public:
    static constexpr std::size_t kBufferSize = 4096;
    // Longest string the store side will write: the 32-bit length form.
    static constexpr std::uint64_t kMaxString = 0xFFFFFFFFu;

    // A loading archive over a source, or a storing archive over a sink; both are borrowed.
    static Archive Loading(ByteSource& source) { return Archive(&source, nullptr); }
    static Archive Storing(ByteSink& sink) { return Archive(nullptr, &sink); }

    Archive(Archive&&) = default;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    // A storing archive must be flushed by its owner; the destructor does not write, because
    // it cannot report a failure.
    ~Archive() = default;

    bool IsStoring() const { return sink_ != nullptr; }
    bool IsLoading() const { return source_ != nullptr; }

    // Both directions: read into the field, or write it.
    void Field(std::uint8_t& v);
    void Field(std::uint16_t& v);
    void Field(std::int16_t& v);
    void Field(std::uint32_t& v);
    void Field(std::int32_t& v);
    void Field(std::string& v);

    // Loading side.
    std::uint8_t ReadByte();
    std::uint16_t ReadWord();
    std::uint32_t ReadNumber();
    std::int32_t ReadInt() { return static_cast<std::int32_t>(ReadNumber()); }
    std::string ReadString();
    // Bytes the archive still holds or knows the source to hold; nullopt for an open stream.
    std::optional<std::uint64_t> Remaining() const;
    std::optional<std::uint64_t> Available() const;
    // Before `count` items of `bytes` each are read from a message that is still arriving
    // (fewer bytes at hand than may follow): EndOfData until they are all there, so that
    // nothing is allocated or decoded again and again for them before. Complete data, a file
    // or a registry value, is read as it is.
    void AwaitItems(std::uint64_t count, std::uint64_t bytes) const;
    // True when nothing is left (only meaningful when Remaining() is known).
    bool AtEnd() const;
    // Bytes consumed by the loading side so far.
    std::uint64_t Consumed() const { return consumed_; }

    // Storing side.
    void WriteByte(std::uint8_t v);
    void WriteWord(std::uint16_t v);
    void WriteNumber(std::uint32_t v);
    void WriteInt(std::int32_t v) { WriteNumber(static_cast<std::uint32_t>(v)); }
    void WriteString(std::string_view s);
    // Pushes buffered bytes to the sink (and asks the sink to flush).
    void Flush();

  private:
    Archive(ByteSource* source, ByteSink* sink);
    void ReadExact(std::uint8_t* out, std::size_t n);
    void Fill();
    void Put(const std::uint8_t* bytes, std::size_t n);

    ByteSource* source_;
    ByteSink* sink_;
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0;  // loading: next unread byte in buf_
    std::size_t end_ = 0;  // loading: bytes valid in buf_; storing: bytes pending in buf_
    std::uint64_t consumed_ = 0;
};

// Encodes one string on its own (tests, tools).
std::vector<std::uint8_t> EncodeString(std::string_view s);

// Runs a record's Serialize into a fresh byte vector.
template <typename Record>
std::vector<std::uint8_t> ToBytes(Record& record) {
    std::vector<std::uint8_t> out;
    VectorSink sink(out);
    Archive ar = Archive::Storing(sink);
    record.Serialize(ar);
    ar.Flush();
    return out;
}

}  // namespace ups
