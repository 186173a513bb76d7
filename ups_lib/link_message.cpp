#include "link_message.h"

#include <algorithm>
#include <cstring>

#include "close_info.h"
#include "config.h"
#include "msg_tab.h"
#include "schedule.h"
#include "ups_records.h"

namespace ups::link {

namespace {

std::int32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}

void AppendLe32(std::vector<std::uint8_t>& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u >> 16));
    out.push_back(static_cast<std::uint8_t>(u >> 24));
}

std::unique_ptr<Serializable> MakeRecord(Payload p) {
    switch (p) {
        case Payload::Config:
            return std::make_unique<CConfig>();
        case Payload::MsgTab:
            return std::make_unique<CMsgTab>();
        case Payload::Schedule:
            return std::make_unique<CSchedule>();
        case Payload::EventLog:
            return std::make_unique<EventLogRecords>("CEventLog");
        case Payload::DataLog:
            return std::make_unique<DataLogRecords>("CDataLog");
        case Payload::Status:
            return std::make_unique<CUPSStatus>();
        case Payload::BasicInfo:
            return std::make_unique<CUPSBasicInfo>();
        case Payload::RatingInfo:
            return std::make_unique<CUPSRatingInfo>();
        case Payload::CloseInfo:
            return std::make_unique<CCloseInfo>();
        case Payload::None:
        case Payload::Number:
        case Payload::Text:
            break;
    }
    return nullptr;
}

// Loads whatever follows the code. The message is built aside and handed out only whole.
Message LoadMessage(std::int32_t code, Payload payload, Archive& ar) {
    Message m;
    m.code = code;
    m.payload = payload;
    if (payload == Payload::Number) {
        m.number = ar.ReadInt();
    } else if (payload == Payload::Text) {
        m.text = ar.ReadString();
    } else if (payload != Payload::None) {
        m.record = MakeRecord(payload);
        m.record->Serialize(ar);
    }
    return m;
}

// The bytes a receiver holds of one message, seen as the most the message may still take:
// Remaining() counts up to the limit, not to the end of what has arrived, so the archive calls a
// length or count that can never fit Corrupt, while one that only runs past the bytes at hand
// ends in EndOfData (wait for more).
class PartialSource final : public ByteSource {
  public:
    PartialSource(std::span<const std::uint8_t> held, std::size_t limit)
        : held_(held), limit_(limit) {}
    std::size_t Read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min(out.size(), held_.size() - pos_);
        if (n > 0) std::memcpy(out.data(), held_.data() + pos_, n);
        pos_ += n;
        return n;
    }
    std::optional<std::uint64_t> Remaining() const override { return limit_ - pos_; }
    std::optional<std::uint64_t> Available() const override { return held_.size() - pos_; }

  private:
    std::span<const std::uint8_t> held_;
    std::size_t limit_;
    std::size_t pos_ = 0;
};

// A stream under one message: hands the archive one byte at a time, so the archive's own buffer
// never takes bytes of the next message out of the stream, and refuses to go past the limit.
// The stream should buffer (a socket read per byte would be slow, not wrong).
class MessageSource final : public ByteSource {
  public:
    MessageSource(ByteSource& stream, std::size_t limit) : stream_(stream), limit_(limit) {}
    std::size_t Read(std::span<std::uint8_t> out) override {
        if (out.empty()) return 0;
        if (taken_ >= limit_) {
            throw ArchiveError(ArchiveErrc::Corrupt, "link: message longer than the " +
                                                         std::to_string(limit_) + " bytes allowed");
        }
        const std::size_t n = stream_.Read(out.first(1));
        taken_ += n;
        return n;
    }
    // As with PartialSource: the limit, so an impossible length fails before any wait.
    std::optional<std::uint64_t> Remaining() const override { return limit_ - taken_; }

  private:
    ByteSource& stream_;
    std::size_t limit_;
    std::size_t taken_ = 0;
};

}  // namespace

Payload PayloadOf(Direction d, std::int32_t code) {
    if (d == Direction::ToAgent) {
        switch (code) {
            case kPassword:
                return Payload::Text;
            case kConfig:
                return Payload::Config;
            case kMsgTab:
                return Payload::MsgTab;
            case kSchedule:
                return Payload::Schedule;
            case kTestMinutes:
                return Payload::Number;
            default:
                return Payload::None;
        }
    }
    switch (code) {
        case kConfig:
            return Payload::Config;
        case kMsgTab:
            return Payload::MsgTab;
        case kEventLog:
            return Payload::EventLog;
        case kSchedule:
            return Payload::Schedule;
        case kDataLog:
            return Payload::DataLog;
        case kStatus:
            return Payload::Status;
        case kBasicInfo:
            return Payload::BasicInfo;
        case kRatingInfo:
            return Payload::RatingInfo;
        case kCountdown:
            return Payload::Number;
        case kCloseInfo:
            return Payload::CloseInfo;
        default:
            return Payload::None;
    }
}

std::vector<std::uint8_t> Encode(std::int32_t code) {
    std::vector<std::uint8_t> out;
    AppendLe32(out, code);
    return out;
}

std::vector<std::uint8_t> EncodeNumber(std::int32_t code, std::int32_t number) {
    std::vector<std::uint8_t> out;
    AppendLe32(out, code);
    AppendLe32(out, number);
    return out;
}

std::vector<std::uint8_t> EncodeText(std::int32_t code, std::string_view text) {
    std::vector<std::uint8_t> out = Encode(code);
    const auto s = EncodeString(text);
    out.insert(out.end(), s.begin(), s.end());
    return out;
}

std::vector<std::uint8_t> EncodeRecord(std::int32_t code, Serializable& record) {
    std::vector<std::uint8_t> out = Encode(code);
    VectorSink sink(out);
    Archive ar = Archive::Storing(sink);
    record.Serialize(ar);
    ar.Flush();
    return out;
}

DecodeStatus Decode(Direction d, std::span<const std::uint8_t> buffer, Message& out,
                    std::size_t& consumed) {
    const std::size_t limit = MaxMessage(d);
    if (buffer.size() < 4) return DecodeStatus::NeedMore;
    const std::int32_t code = ReadLe32(buffer.data());
    const Payload payload = PayloadOf(d, code);
    if (payload == Payload::None) {
        out = Message{code, payload, 0, {}, nullptr};
        consumed = 4;
        return DecodeStatus::Complete;
    }
    // Only the bytes the limit allows count: beyond them the message is too long anyway.
    const auto held = buffer.subspan(4, std::min(buffer.size(), limit) - 4);
    PartialSource source(held, limit - 4);
    Archive ar = Archive::Loading(source);
    try {
        Message m = LoadMessage(code, payload, ar);
        consumed = 4 + static_cast<std::size_t>(ar.Consumed());
        out = std::move(m);
        return DecodeStatus::Complete;
    } catch (const ArchiveError& e) {
        if (e.code() != ArchiveErrc::EndOfData) return DecodeStatus::Bad;
        // Out of bytes: more may come, unless the limit is what ran out.
        return 4 + held.size() < limit ? DecodeStatus::NeedMore : DecodeStatus::Bad;
    }
}

bool DecodePayload(Direction d, std::int32_t code, std::span<const std::uint8_t> data,
                   Message& out) {
    Payload payload = PayloadOf(d, code);
    // Locally the sender is known by its endpoint: code 1 registers it and carries nothing.
    if (d == Direction::ToAgent && code == kPassword) payload = Payload::None;
    if (data.size() > MaxMessage(d) - 4) return false;
    MemorySource source(data);
    Archive ar = Archive::Loading(source);
    try {
        Message m = LoadMessage(code, payload, ar);
        if (ar.Consumed() != data.size()) return false;
        out = std::move(m);
        return true;
    } catch (const ArchiveError&) {
        return false;
    }
}

Message Read(Direction d, ByteSource& stream) {
    MessageSource source(stream, MaxMessage(d));
    Archive ar = Archive::Loading(source);
    const std::int32_t code = ar.ReadInt();
    return LoadMessage(code, PayloadOf(d, code), ar);
}

}  // namespace ups::link
