// The framing of the record link (TCP port 2570 and the local copy-data link): a message is a
// 32-bit little-endian code (link_codes.h), then at most one archived record, one archived
// string or one 32-bit number. Nothing in the bytes says which: the code and the direction do,
// so both ends share PayloadOf.
//
// The agent reads asynchronously into a buffer and calls Decode as bytes arrive; a client may
// block on Read. Both apply a limit to the bytes one message may take, so a peer cannot make
// the other side hold or allocate without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link_codes.h"
#include "log_list.h"
#include "log_records.h"
#include "platform/registry.h"
#include "serializable.h"

namespace ups::link {

enum class Direction { ToAgent, FromAgent };

enum class Payload {
    None,
    Number,  // int32: countdown seconds (27, from the agent), test minutes (31, to the agent)
    Text,    // archive string: the TCP password (1, to the agent)
    Config,
    MsgTab,
    Schedule,
    EventLog,  // link form: count, then the records
    DataLog,   // link form: count, then the records
    Status,
    BasicInfo,
    RatingInfo,
    CloseInfo,
};

// What follows `code` when it travels in direction `d`. An unknown code has no payload, so a
// newer peer's extra codes do not desynchronise the stream.
Payload PayloadOf(Direction d, std::int32_t code);

// A log in its link form as a record of its own. The agent's CEventLog and CDataLog write the
// same bytes, but they are tied to a file (and the event log to the system's event source),
// which a decoded message must not touch. The class name is the one the agent's log sends.
template <typename Record>
class LogRecords final : public Serializable {
  public:
    explicit LogRecords(const char* className) : className_(className) {}
    const char* ClassName() const override { return className_; }
    void Serialize(Archive& ar) override;

    std::vector<Record> records;

  private:
    const char* className_;
};
using EventLogRecords = LogRecords<CEventLogRecord>;
using DataLogRecords = LogRecords<CDataLogRecord>;

// Encoding: the whole message's bytes.
std::vector<std::uint8_t> Encode(std::int32_t code);
std::vector<std::uint8_t> EncodeNumber(std::int32_t code, std::int32_t number);
std::vector<std::uint8_t> EncodeText(std::int32_t code, std::string_view text);
std::vector<std::uint8_t> EncodeRecord(std::int32_t code, Serializable& record);

// One decoded message. `record` holds a freshly loaded object of the payload's class: CConfig,
// CMsgTab, CSchedule, EventLogRecords, DataLogRecords, CUPSStatus, CUPSBasicInfo,
// CUPSRatingInfo or CCloseInfo.
struct Message {
    std::int32_t code = 0;
    Payload payload = Payload::None;
    std::int32_t number = 0;
    std::string text;
    std::unique_ptr<Serializable> record;

    // The record as its class; null when the payload is another kind.
    template <typename T>
    T* As() const {
        return dynamic_cast<T*>(record.get());
    }
};

enum class DecodeStatus { Complete, NeedMore, Bad };

// Limits a receiver applies to the bytes it holds for one message, code included.
// To the agent: everything a client sends is stored in a registry value, so anything a value
// can hold must pass, and nothing more is useful.
inline constexpr std::size_t kMaxToAgent = platform::Registry::kMaxValueSize + 4;
// From the agent: the logs stay far below this (event file < 15 001 bytes, data file < 40 961);
// the largest message is the close report, made from a CLOSEAPP.INI of at most 4 MiB.
inline constexpr std::size_t kMaxFromAgent = 8 * 1024 * 1024;
constexpr std::size_t MaxMessage(Direction d) {
    return d == Direction::ToAgent ? kMaxToAgent : kMaxFromAgent;
}

// Decodes the first message of `buffer`. Complete: `out` filled, `consumed` = its length.
// NeedMore: the buffer ends inside the message (it may still become valid). Bad: it can never
// be a valid message (a length or count that cannot fit in MaxMessage(d), or a message longer
// than that); the stream cannot be resynchronised and should be dropped. `out` and `consumed`
// are changed only on Complete.
//
// A partial message costs at most MaxMessage(d) of memory per call, whatever it announces.
DecodeStatus Decode(Direction d, std::span<const std::uint8_t> buffer, Message& out,
                    std::size_t& consumed);

// The copy-data link carries the code separately and only the payload as data (code 31's
// minutes are the raw int32; code 1 there registers the sender and carries nothing): decodes
// that payload alone. False when it is not exactly one whole, valid payload.
bool DecodePayload(Direction d, std::int32_t code, std::span<const std::uint8_t> data,
                   Message& out);

// Blocking read of one message from a stream (for clients). Throws ArchiveError: EndOfData when
// the stream ends inside or before the message, Corrupt when it is malformed or would exceed
// MaxMessage(d), Io from the source. Memory stays within MaxMessage(d) plus a read piece.
Message Read(Direction d, ByteSource& source);

// ---- template definitions ----

template <typename Record>
void LogRecords<Record>::Serialize(Archive& ar) {
    if (ar.IsStoring()) {
        SerializeRecordList(ar, records);
        return;
    }
    records.clear();
    const std::uint32_t count = ar.ReadNumber();
    // Every record has a fixed size, so a count the bytes that may follow cannot hold is damage
    // now: a receiver need not wait for bytes that can never make it whole. A stream that cannot
    // tell its size reads record by record, and nothing is reserved from the count.
    const auto rest = ar.Remaining();
    if (rest && static_cast<std::uint64_t>(count) * Record::kBytes > *rest) {
        throw ArchiveError(ArchiveErrc::Corrupt, "link: " + std::to_string(count) +
                                                     " log records cannot fit in the " +
                                                     std::to_string(*rest) + " bytes left");
    }
    ar.AwaitItems(count, Record::kBytes);
    for (std::uint32_t i = 0; i < count; ++i) {
        Record r;
        r.Serialize(ar);
        records.push_back(r);
    }
}

}  // namespace ups::link
