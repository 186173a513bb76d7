// The byte streams an archive reads from and writes to. Memory is the common case (a registry
// value, a log file read whole, a link record); a socket stream can be added later without
// touching the archive, because the archive only needs "read some bytes" and "write some bytes".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ups {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to out.size() bytes; returns how many were read, 0 only at the end of the data.
    // A failure of the underlying device throws ArchiveError with ArchiveErrc::Io.
    virtual std::size_t Read(std::span<std::uint8_t> out) = 0;
    // How many bytes are left, when the source knows it (memory, a file). A stream that cannot
    // tell returns nullopt, and the archive then never trusts a length it was sent.
    virtual std::optional<std::uint64_t> Remaining() const { return std::nullopt; }
    // How many of those can be read now, without waiting: fewer than Remaining() while a
    // message is still arriving. A length beyond it waits for its bytes before anything is
    // allocated for it.
    virtual std::optional<std::uint64_t> Available() const { return Remaining(); }
};

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Writes all of the bytes or throws ArchiveError with ArchiveErrc::Io.
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    virtual void Flush() {}
};

// Reads from a span the caller keeps alive.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t Read(std::span<std::uint8_t> out) override;
    std::optional<std::uint64_t> Remaining() const override { return bytes_.size() - pos_; }
    std::size_t Position() const { return pos_; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Appends to a vector the caller owns.
class VectorSink final : public ByteSink {
  public:
    explicit VectorSink(std::vector<std::uint8_t>& out) : out_(out) {}
    void Write(std::span<const std::uint8_t> bytes) override;

  private:
    std::vector<std::uint8_t>& out_;
};

}  // namespace ups
