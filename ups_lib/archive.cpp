#include "archive.h"

#include <algorithm>
#include <cstring>

namespace ups {

namespace {

// A string whose length the source cannot vouch for is read in pieces of this size, so a
// stream that announces 4 GB and then stops costs at most one piece of memory.
constexpr std::size_t kStringPiece = 64 * 1024;

}  // namespace

Archive::Archive(ByteSource* source, ByteSink* sink) : source_(source), sink_(sink) {
    buf_.resize(kBufferSize);
}

// ---- loading ----

void Archive::Fill() {
    if (pos_ < end_) return;
    pos_ = 0;
    end_ = source_->Read(std::span<std::uint8_t>(buf_.data(), buf_.size()));
}

void Archive::ReadExact(std::uint8_t* out, std::size_t n) {
    if (source_ == nullptr) throw std::logic_error("read from a storing archive");
    while (n > 0) {
        Fill();
        if (pos_ == end_) {
            throw ArchiveError(ArchiveErrc::EndOfData, "archive: data ends inside a field");
        }
        const std::size_t take = std::min(n, end_ - pos_);
        std::memcpy(out, buf_.data() + pos_, take);
        pos_ += take;
        out += take;
        n -= take;
        consumed_ += take;
    }
}

std::optional<std::uint64_t> Archive::Remaining() const {
    if (source_ == nullptr) return std::nullopt;
    const auto rest = source_->Remaining();
    if (!rest) return std::nullopt;
    return *rest + (end_ - pos_);
}

std::optional<std::uint64_t> Archive::Available() const {
    if (source_ == nullptr) return std::nullopt;
    const auto now = source_->Available();
    if (!now) return std::nullopt;
    return *now + (end_ - pos_);
}

void Archive::AwaitItems(std::uint64_t count, std::uint64_t bytes) const {
    const auto rest = Remaining();
    const auto now = Available();
    if (!rest || !now || *now >= *rest) return;
    const std::uint64_t need =
        bytes != 0 && count > UINT64_MAX / bytes ? UINT64_MAX : count * bytes;
    if (need > *now) {
        throw ArchiveError(ArchiveErrc::EndOfData, "archive: the items have not all arrived");
    }
}

bool Archive::AtEnd() const {
    const auto rest = Remaining();
    return rest && *rest == 0;
}

std::uint8_t Archive::ReadByte() {
    std::uint8_t b = 0;
    ReadExact(&b, 1);
    return b;
}

std::uint16_t Archive::ReadWord() {
    std::array<std::uint8_t, 2> b{};
    ReadExact(b.data(), b.size());
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t Archive::ReadNumber() {
    std::array<std::uint8_t, 4> b{};
    ReadExact(b.data(), b.size());
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::string Archive::ReadString() {
    std::uint64_t len = ReadByte();
    if (len == 0xFF) {
        len = ReadWord();
        if (len == 0xFFFF) len = ReadNumber();
    }
    // The length comes from a file, the registry or a peer: check it against what is really
    // there before allocating anything.
    const auto rest = Remaining();
    if (rest && len > *rest) {
        throw ArchiveError(ArchiveErrc::Corrupt, "archive: string length " + std::to_string(len) +
                                                     " exceeds the " + std::to_string(*rest) +
                                                     " bytes that remain");
    }
    AwaitItems(len, 1);
    std::string s;
    if (rest) {
        s.resize(static_cast<std::size_t>(len));
        ReadExact(reinterpret_cast<std::uint8_t*>(s.data()), s.size());
        return s;
    }
    // Unknown amount of data: grow only as bytes actually arrive.
    while (len > 0) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(len, kStringPiece));
        const std::size_t old = s.size();
        s.resize(old + piece);
        ReadExact(reinterpret_cast<std::uint8_t*>(s.data()) + old, piece);
        len -= piece;
    }
    return s;
}

// ---- storing ----

void Archive::Put(const std::uint8_t* bytes, std::size_t n) {
    if (sink_ == nullptr) throw std::logic_error("write to a loading archive");
    while (n > 0) {
        if (end_ == buf_.size()) {
            sink_->Write(std::span<const std::uint8_t>(buf_.data(), end_));
            end_ = 0;
        }
        const std::size_t take = std::min(n, buf_.size() - end_);
        std::memcpy(buf_.data() + end_, bytes, take);
        end_ += take;
        bytes += take;
        n -= take;
    }
}

void Archive::WriteByte(std::uint8_t v) {
    Put(&v, 1);
}

void Archive::WriteWord(std::uint16_t v) {
    const std::array<std::uint8_t, 2> b{static_cast<std::uint8_t>(v),
                                        static_cast<std::uint8_t>(v >> 8)};
    Put(b.data(), b.size());
}

void Archive::WriteNumber(std::uint32_t v) {
    const std::array<std::uint8_t, 4> b{
        static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
        static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    Put(b.data(), b.size());
}

void Archive::WriteString(std::string_view s) {
    if (s.size() > kMaxString) {
        throw ArchiveError(ArchiveErrc::Corrupt, "archive: string longer than 4 GB");
    }
    if (s.size() < 0xFF) {
        WriteByte(static_cast<std::uint8_t>(s.size()));
    } else if (s.size() < 0xFFFF) {
        WriteByte(0xFF);
        WriteWord(static_cast<std::uint16_t>(s.size()));
    } else {
        WriteByte(0xFF);
        WriteWord(0xFFFF);
        WriteNumber(static_cast<std::uint32_t>(s.size()));
    }
    Put(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

void Archive::Flush() {
    if (sink_ == nullptr) return;
    if (end_ > 0) sink_->Write(std::span<const std::uint8_t>(buf_.data(), end_));
    end_ = 0;
    sink_->Flush();
}

// ---- both directions ----

void Archive::Field(std::uint8_t& v) {
    if (IsStoring())
        WriteByte(v);
    else
        v = ReadByte();
}

void Archive::Field(std::uint16_t& v) {
    if (IsStoring())
        WriteWord(v);
    else
        v = ReadWord();
}

void Archive::Field(std::int16_t& v) {
    if (IsStoring())
        WriteWord(static_cast<std::uint16_t>(v));
    else
        v = static_cast<std::int16_t>(ReadWord());
}

void Archive::Field(std::uint32_t& v) {
    if (IsStoring())
        WriteNumber(v);
    else
        v = ReadNumber();
}

void Archive::Field(std::int32_t& v) {
    if (IsStoring())
        WriteInt(v);
    else
        v = ReadInt();
}

void Archive::Field(std::string& v) {
    if (IsStoring())
        WriteString(v);
    else
        v = ReadString();
}

std::vector<std::uint8_t> EncodeString(std::string_view s) {
    std::vector<std::uint8_t> out;
    VectorSink sink(out);
    Archive ar = Archive::Storing(sink);
    ar.WriteString(s);
    ar.Flush();
    return out;
}

}  // namespace ups
