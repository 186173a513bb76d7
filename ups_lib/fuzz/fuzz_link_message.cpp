// The link's framing over arbitrary bytes, as a receiver's buffer fills. The first byte picks
// the direction (bit 0). Whatever the bytes:
//   - a complete message re-encodes to bytes that decode whole to the same message (not always
//     the bytes it came from: the archive accepts a string length in a longer form than needed);
//   - every prefix of a complete message needs more, and a prefix of "needs more" still does;
//   - the blocking reader agrees with the buffer decoder, message by message;
//   - the payload alone (the copy-data form) decodes as it does after its code.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "ups_lib/link_message.h"

namespace {

using ups::link::DecodeStatus;
using ups::link::Direction;
using ups::link::Message;
using ups::link::Payload;

std::vector<std::uint8_t> Reencode(const Message& m) {
    switch (m.payload) {
        case Payload::None:
            return ups::link::Encode(m.code);
        case Payload::Number:
            return ups::link::EncodeNumber(m.code, m.number);
        case Payload::Text:
            return ups::link::EncodeText(m.code, m.text);
        default:
            if (m.record == nullptr) std::abort();
            return ups::link::EncodeRecord(m.code, *m.record);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Direction d = (data[0] & 1) != 0 ? Direction::FromAgent : Direction::ToAgent;
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    ups::MemorySource stream(rest);

    for (int messages = 0; messages < 64; ++messages) {
        Message m;
        std::size_t used = 0;
        const DecodeStatus status = ups::link::Decode(d, rest, m, used);
        if (status != DecodeStatus::Complete) {
            // The blocking reader must fail on the same bytes too.
            bool failed = false;
            try {
                (void)ups::link::Read(d, stream);
            } catch (const ups::ArchiveError&) {
                failed = true;
            }
            if (!failed) std::abort();
            if (status == DecodeStatus::NeedMore && !rest.empty()) {
                Message shorter;
                std::size_t ignored = 0;
                if (ups::link::Decode(d, rest.first(rest.size() - 1), shorter, ignored) !=
                    DecodeStatus::NeedMore)
                    std::abort();
            }
            return 0;
        }
        if (used == 0 || used > rest.size()) std::abort();
        const auto whole = rest.first(used);
        const auto again = Reencode(m);
        {
            Message back;
            std::size_t backUsed = 0;
            if (ups::link::Decode(d, again, back, backUsed) != DecodeStatus::Complete ||
                backUsed != again.size() || Reencode(back) != again)
                std::abort();
        }
        // Cut short it is "wait"; the last byte and a middle one are the interesting cuts.
        for (const std::size_t cut : {used - 1, used / 2}) {
            Message partial;
            std::size_t ignored = 0;
            if (ups::link::Decode(d, whole.first(cut), partial, ignored) != DecodeStatus::NeedMore)
                std::abort();
        }
        // The reader takes the same message and leaves the stream at the next one.
        const Message read = ups::link::Read(d, stream);
        if (read.code != m.code || Reencode(read) != again) std::abort();
        if (stream.Position() != static_cast<std::size_t>(whole.data() + used - (data + 1)))
            std::abort();
        // The payload alone, as the copy-data link carries it (code 1 is different there).
        if (!(d == Direction::ToAgent && m.code == ups::link::kPassword)) {
            Message alone;
            if (!ups::link::DecodePayload(d, m.code, whole.subspan(4), alone)) std::abort();
            if (Reencode(alone) != again) std::abort();
        }
        rest = rest.subspan(used);
    }
    return 0;
}
