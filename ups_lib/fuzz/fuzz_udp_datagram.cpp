// The event datagram over arbitrary bytes. Whatever the bytes:
//   - only exactly 24 bytes can be a datagram, and one that decodes re-encodes to the very same
//     bytes (there is one way to write each);
//   - changing any one byte of a datagram that decodes makes it one that does not, or a
//     different one: a damaged datagram is never taken for the one that was sent.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "ups_lib/udp_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto d = ups::udp::Decode(bytes);
    if (!d) return 0;
    if (size != ups::udp::kDatagramSize) std::abort();
    const auto again = ups::udp::Encode(*d);
    if (std::memcmp(again.data(), data, size) != 0) std::abort();
    for (std::size_t i = 0; i < size; ++i) {
        auto damaged = again;
        damaged[i] ^= static_cast<std::uint8_t>(1u << (i % 8));
        const auto other = ups::udp::Decode(damaged);
        if (other && *other == *d) std::abort();
    }
    return 0;
}
