// The event datagram between the agent and its UDP event clients (port 2571): 24 bytes, six
// 32-bit little-endian words: a check value (the XOR of the five others), 210, the message
// type, the payload length 8, and two payload values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace ups::udp {

inline constexpr std::size_t kDatagramSize = 24;
inline constexpr std::uint32_t kMark = 210;
inline constexpr std::uint32_t kPayloadLength = 8;

// Message types.
inline constexpr std::uint32_t kTypeHello = 1;
inline constexpr std::uint32_t kTypeAlive = 3;
inline constexpr std::uint32_t kTypeLeave = 4;
inline constexpr std::uint32_t kTypeEvent = 5;
inline constexpr std::uint32_t kTypeAnswer = 10;

// First values of the answers (type 10): to a hello, an alive and a leave; and of the
// acknowledgements, 15 + the number of the event bit acknowledged (0 for bit 1 ... 7 for 128).
inline constexpr std::uint32_t kReHello = 11;
inline constexpr std::uint32_t kReAlive = 13;
inline constexpr std::uint32_t kReLeave = 14;
inline constexpr std::uint32_t kFirstAck = 15;

struct Datagram {
    std::uint32_t type = 0;
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    bool operator==(const Datagram&) const = default;
};

std::array<std::uint8_t, kDatagramSize> Encode(const Datagram& d);

// The datagram in `bytes`, or none. The check value is a plain XOR that anyone can compute and
// an all-zero datagram passes: it catches damage, not forgery. So the size, the mark and the
// length, the same in every message, are required too: anything else is another program
// talking to the port, or noise.
std::optional<Datagram> Decode(std::span<const std::uint8_t> bytes);

}  // namespace ups::udp
