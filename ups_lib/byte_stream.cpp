#include "byte_stream.h"

#include <algorithm>
#include <cstring>

namespace ups {

std::size_t MemorySource::Read(std::span<std::uint8_t> out) {
    const std::size_t n = std::min(out.size(), bytes_.size() - pos_);
    if (n > 0) std::memcpy(out.data(), bytes_.data() + pos_, n);
    pos_ += n;
    return n;
}

void VectorSink::Write(std::span<const std::uint8_t> bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

}  // namespace ups
