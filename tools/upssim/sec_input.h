// Splits the bytes a SEC client sends into messages. SEC messages have no terminator: each
// says how long it is ("^P003ST2", "^S006PSD120"), so the length is the only framing there is.
//
// Bytes outside a message are line noise and dropped. A header that is not "^P" or "^S" and
// three digits, or that announces more than kMaxBody bytes (our input buffer, like a real
// unit's, is small), is dropped and the search starts again at the next "^". A "^" inside a
// body starts a new message: a body never holds one, so the earlier message was cut short.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace upssim {

class SecInput {
  public:
    static constexpr std::size_t kMaxBody = 64;

    // Complete messages in `bytes`, each exactly as received.
    std::vector<std::string> feed(std::string_view bytes);
    // How many headers or cut-short messages have been thrown away so far.
    std::size_t dropped() const { return dropped_; }

  private:
    std::string partial_;  // from a "^" on; empty while between messages
    std::size_t dropped_ = 0;
};

}  // namespace upssim
