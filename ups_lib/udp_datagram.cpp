#include "udp_datagram.h"

namespace ups::udp {

namespace {

std::uint32_t Word(std::span<const std::uint8_t> b, std::size_t offset) {
    return static_cast<std::uint32_t>(b[offset]) | static_cast<std::uint32_t>(b[offset + 1]) << 8 |
           static_cast<std::uint32_t>(b[offset + 2]) << 16 |
           static_cast<std::uint32_t>(b[offset + 3]) << 24;
}

void PutWord(std::array<std::uint8_t, kDatagramSize>& b, std::size_t offset, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, kDatagramSize> Encode(const Datagram& d) {
    std::array<std::uint8_t, kDatagramSize> b{};
    PutWord(b, 4, kMark);
    PutWord(b, 8, d.type);
    PutWord(b, 12, kPayloadLength);
    PutWord(b, 16, d.first);
    PutWord(b, 20, d.second);
    PutWord(b, 0, kMark ^ d.type ^ kPayloadLength ^ d.first ^ d.second);
    return b;
}

std::optional<Datagram> Decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kDatagramSize) return std::nullopt;
    if (Word(bytes, 4) != kMark || Word(bytes, 12) != kPayloadLength) return std::nullopt;
    std::uint32_t check = 0;
    for (std::size_t offset = 4; offset < kDatagramSize; offset += 4) check ^= Word(bytes, offset);
    if (check != Word(bytes, 0)) return std::nullopt;
    return Datagram{Word(bytes, 8), Word(bytes, 16), Word(bytes, 20)};
}

}  // namespace ups::udp
