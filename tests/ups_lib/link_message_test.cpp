// The record link's framing: what follows each code in each direction, messages cut anywhere in
// a receiver's buffer, messages back to back, and bytes that can never become a message.
#include "ups_lib/link_message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "test_support.h"
#include "ups_lib/close_info.h"
#include "ups_lib/config.h"
#include "ups_lib/data_log.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"
#include "ups_lib/ups_records.h"

// The largest single allocation made while a test watches: what a peer's announced length can
// make the receiver reserve.
namespace {
std::atomic<bool> watching{false};
std::atomic<std::size_t> largest{0};
}  // namespace

void* operator new(std::size_t n) {
    if (watching && n > largest) largest = n;
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
// The pair is malloc and free on purpose: GCC cannot see that they are what new and delete are
// here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace ups::link {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Letters(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One sample of every message that carries something, with values away from the defaults and
// strings in each length form.
struct Sample {
    const char* name;
    Direction direction;
    Bytes bytes;
    Payload payload;
};

std::vector<Sample> Samples() {
    std::vector<Sample> out;
    const auto add = [&](const char* name, Direction d, Bytes b, Payload p) {
        out.push_back({name, d, std::move(b), p});
    };
    CConfig config;
    config.comPort = 2;
    config.acFailDelay = -7;
    config.programCmdLine = Letters(300);  // 16-bit length form
    config.agentPassword = "s3cret";
    CMsgTab msgTab;
    msgTab.text[3] = Letters(254);  // longest one-byte length
    msgTab.address[6] = "ops@example.org";
    CSchedule schedule;
    schedule.Add(CScheduleDetail(kShutdown, 2, -1, 1718049600));
    schedule.Add(CScheduleDetail(kSelfTest, 0, 5, 0xFFFFFFF0u));
    for (const Direction d : {Direction::ToAgent, Direction::FromAgent}) {
        add("config", d, EncodeRecord(kConfig, config), Payload::Config);
        add("msgtab", d, EncodeRecord(kMsgTab, msgTab), Payload::MsgTab);
        add("schedule", d, EncodeRecord(kSchedule, schedule), Payload::Schedule);
    }
    add("password", Direction::ToAgent, EncodeText(kPassword, "pa55"), Payload::Text);
    add("empty password", Direction::ToAgent, EncodeText(kPassword, ""), Payload::Text);
    add("minutes", Direction::ToAgent, EncodeNumber(kTestMinutes, 45), Payload::Number);
    add("countdown", Direction::FromAgent, EncodeNumber(kCountdown, -2), Payload::Number);

    EventLogRecords events("CEventLog");
    events.records = {{0x64, 1, 100}, {0x77, 4, 0xFFFFFFFFu}, {0x70, 2, 5}};
    add("event log", Direction::FromAgent, EncodeRecord(kEventLog, events), Payload::EventLog);
    EventLogRecords noEvents("CEventLog");
    add("empty event log", Direction::FromAgent, EncodeRecord(kEventLog, noEvents),
        Payload::EventLog);
    DataLogRecords samples("CDataLog");
    CDataLogRecord sample;
    sample.inputVoltage = 2301;
    sample.temperature = -55;
    sample.time = 1718049600;
    samples.records = {sample, CDataLogRecord{}};
    add("data log", Direction::FromAgent, EncodeRecord(kDataLog, samples), Payload::DataLog);

    CUPSStatus status;
    UPSStatusValues sv;
    sv.rawLine = "(230.1 229.0 230.5 012 50.0 13.6 25.0 00001001";
    sv.inputVoltage = 2301;
    sv.temperature = -100;
    sv.batteryCapacity = 97;
    sv.status = ups::kUtilityFail | ups::kStandbyType;
    status.Set(sv);
    add("status", Direction::FromAgent, EncodeRecord(kStatus, status), Payload::Status);
    CUPSBasicInfo basic;
    basic.Set({"#raw", "Stavlen Power", "SP-1000", "2.04"});
    add("basic info", Direction::FromAgent, EncodeRecord(kBasicInfo, basic), Payload::BasicInfo);
    CUPSRatingInfo rating;
    rating.Set({"#230.0 004 12.00 50.0", 2300, 40, 1200, 500});
    add("rating info", Direction::FromAgent, EncodeRecord(kRatingInfo, rating),
        Payload::RatingInfo);
    CCloseInfo close;
    close.apps = {"Editor", ""};
    close.files = {{"a.txt", Letters(70000)}, {}};  // 32-bit length form
    add("close info", Direction::FromAgent, EncodeRecord(kCloseInfo, close), Payload::CloseInfo);
    return out;
}

DecodeStatus DecodeAll(Direction d, const Bytes& b, Message& m, std::size_t& used) {
    return Decode(d, std::span<const std::uint8_t>(b), m, used);
}

TEST(LinkMessage, EveryPayloadRoundTripsOnTheByte) {
    for (const auto& s : Samples()) {
        SCOPED_TRACE(s.name);
        Message m;
        std::size_t used = 0;
        ASSERT_EQ(DecodeAll(s.direction, s.bytes, m, used), DecodeStatus::Complete);
        EXPECT_EQ(used, s.bytes.size());
        EXPECT_EQ(m.payload, s.payload);
        EXPECT_EQ(m.payload, PayloadOf(s.direction, m.code));
        Bytes again;
        if (m.payload == Payload::Number)
            again = EncodeNumber(m.code, m.number);
        else if (m.payload == Payload::Text)
            again = EncodeText(m.code, m.text);
        else {
            ASSERT_NE(m.record, nullptr);
            again = EncodeRecord(m.code, *m.record);
        }
        EXPECT_EQ(again, s.bytes);
    }
}

TEST(LinkMessage, DecodedRecordsHoldTheSentValues) {
    const auto samples = Samples();
    Message m;
    std::size_t used = 0;
    for (const auto& s : samples) {
        if (std::string(s.name) == "status") {
            ASSERT_EQ(DecodeAll(s.direction, s.bytes, m, used), DecodeStatus::Complete);
            ASSERT_NE(m.As<CUPSStatus>(), nullptr);
            EXPECT_EQ(m.As<CUPSStatus>()->Get().temperature, -100);
            EXPECT_EQ(m.As<CUPSStatus>()->Get().status, ups::kUtilityFail | ups::kStandbyType);
            EXPECT_EQ(m.As<CConfig>(), nullptr);
        }
        if (std::string(s.name) == "event log") {
            ASSERT_EQ(DecodeAll(s.direction, s.bytes, m, used), DecodeStatus::Complete);
            ASSERT_NE(m.As<EventLogRecords>(), nullptr);
            EXPECT_EQ(m.As<EventLogRecords>()->records.size(), 3u);
            EXPECT_EQ(m.As<EventLogRecords>()->records[1].time, 0xFFFFFFFFu);
            EXPECT_STREQ(m.record->ClassName(), "CEventLog");
        }
        if (std::string(s.name) == "password") {
            ASSERT_EQ(DecodeAll(s.direction, s.bytes, m, used), DecodeStatus::Complete);
            EXPECT_EQ(m.text, "pa55");
            EXPECT_EQ(m.record, nullptr);
        }
    }
}

// The agent sends its own CDataLog; a client decodes it into the light list.
TEST(LinkMessage, TheAgentsDataLogDecodesAsTheLinkList) {
    CDataLog log("/nonexistent/link_test.dat");
    CDataLogRecord r;
    r.load = 455;
    r.time = 99;
    log.SetRecords({r, r});
    const Bytes bytes = EncodeRecord(kDataLog, log);
    Message m;
    std::size_t used = 0;
    ASSERT_EQ(DecodeAll(Direction::FromAgent, bytes, m, used), DecodeStatus::Complete);
    ASSERT_NE(m.As<DataLogRecords>(), nullptr);
    EXPECT_EQ(m.As<DataLogRecords>()->records, log.Records());
}

// A receiver's buffer may end anywhere; a short prefix is always "wait", never a message and
// never a reason to drop the peer.
TEST(LinkMessage, EveryTruncationNeedsMore) {
    for (const auto& s : Samples()) {
        SCOPED_TRACE(s.name);
        // The long close report is cut at its edges and at a stride: every cut is O(n).
        const std::size_t stride = s.bytes.size() > 4096 ? 509 : 1;
        for (std::size_t n = 0; n < s.bytes.size(); ++n) {
            if (stride > 1 && n > 64 && n + 64 < s.bytes.size() && n % stride != 0) continue;
            Message m;
            m.code = -99;
            std::size_t used = 12345;
            ASSERT_EQ(Decode(s.direction, std::span<const std::uint8_t>(s.bytes).first(n), m, used),
                      DecodeStatus::NeedMore)
                << "cut at " << n << " of " << s.bytes.size();
            ASSERT_EQ(m.code, -99);  // untouched unless complete
            ASSERT_EQ(used, 12345u);
        }
    }
}

TEST(LinkMessage, MessagesBackToBackDecodeOneByOne) {
    const auto samples = Samples();
    for (const Direction d : {Direction::ToAgent, Direction::FromAgent}) {
        Bytes stream;
        std::vector<std::size_t> sizes;
        for (const auto& s : samples) {
            if (s.direction != d) continue;
            stream = Cat(stream, s.bytes);
            sizes.push_back(s.bytes.size());
            stream = Cat(stream, Encode(kGoodbye));  // a bare code between records
            sizes.push_back(4);
        }
        std::span<const std::uint8_t> rest(stream);
        for (const std::size_t size : sizes) {
            Message m;
            std::size_t used = 0;
            ASSERT_EQ(Decode(d, rest, m, used), DecodeStatus::Complete);
            ASSERT_EQ(used, size);
            rest = rest.subspan(used);
        }
        EXPECT_TRUE(rest.empty());
    }
}

TEST(LinkMessage, CodesWithoutPayloadIncludingUnknownOnes) {
    // Each code alone, followed by a byte of the next message that must not be taken.
    const std::pair<Direction, std::int32_t> bare[] = {
        {Direction::ToAgent, kGoodbye},
        {Direction::ToAgent, kGetConfig},
        {Direction::ToAgent, kClearEventLog},
        {Direction::ToAgent, kCloseInfo},
        {Direction::ToAgent, kEventLog},
        {Direction::ToAgent, kStatus},
        {Direction::ToAgent, 99},
        {Direction::ToAgent, -1},
        {Direction::FromAgent, kPassword},
        {Direction::FromAgent, kConnected},
        {Direction::FromAgent, kWrongPassword},
        {Direction::FromAgent, kTestMinutes},
        {Direction::FromAgent, kGetConfig},
        {Direction::FromAgent, 0x7FFFFFFF},
    };
    for (const auto& [d, code] : bare) {
        SCOPED_TRACE(code);
        EXPECT_EQ(PayloadOf(d, code), Payload::None);
        const Bytes b = Cat(Encode(code), {0xFF});
        Message m;
        std::size_t used = 0;
        ASSERT_EQ(DecodeAll(d, b, m, used), DecodeStatus::Complete);
        EXPECT_EQ(used, 4u);
        EXPECT_EQ(m.code, code);
        EXPECT_EQ(m.record, nullptr);
    }
    EXPECT_EQ(Encode(-2), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(EncodeNumber(kTestMinutes, 0x01020304), (Bytes{31, 0, 0, 0, 4, 3, 2, 1}));
}

// A string header: the 32-bit form of `len` after code 1.
Bytes PasswordHeader(std::uint32_t len) {
    return {1,
            0,
            0,
            0,
            0xFF,
            0xFF,
            0xFF,
            static_cast<std::uint8_t>(len),
            static_cast<std::uint8_t>(len >> 8),
            static_cast<std::uint8_t>(len >> 16),
            static_cast<std::uint8_t>(len >> 24)};
}

TEST(LinkMessage, LengthsThatCanNeverFitAreBadAtOnce) {
    Message m;
    std::size_t used = 0;
    // The password's length: the message may be exactly kMaxToAgent bytes, not one more.
    const std::uint32_t fits = static_cast<std::uint32_t>(kMaxToAgent - PasswordHeader(0).size());
    EXPECT_EQ(DecodeAll(Direction::ToAgent, PasswordHeader(fits), m, used), DecodeStatus::NeedMore);
    EXPECT_EQ(DecodeAll(Direction::ToAgent, PasswordHeader(fits + 1), m, used), DecodeStatus::Bad);
    EXPECT_EQ(DecodeAll(Direction::ToAgent, PasswordHeader(0xFFFFFFFF), m, used),
              DecodeStatus::Bad);
    // ... and the message of exactly the limit is taken whole.
    Bytes whole = PasswordHeader(fits);
    whole.resize(kMaxToAgent, 'x');
    ASSERT_EQ(DecodeAll(Direction::ToAgent, whole, m, used), DecodeStatus::Complete);
    EXPECT_EQ(used, kMaxToAgent);
    EXPECT_EQ(m.text.size(), fits);

    // A log count whose fixed-size records cannot fit is bad before any record arrives.
    const std::uint32_t maxEvents =
        static_cast<std::uint32_t>((kMaxFromAgent - 8) / CEventLogRecord::kBytes);
    const auto logHeader = [](std::int32_t code, std::uint32_t count) {
        return Cat(
            Encode(code),
            {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
             static_cast<std::uint8_t>(count >> 16), static_cast<std::uint8_t>(count >> 24)});
    };
    EXPECT_EQ(DecodeAll(Direction::FromAgent, logHeader(kEventLog, maxEvents), m, used),
              DecodeStatus::NeedMore);
    EXPECT_EQ(DecodeAll(Direction::FromAgent, logHeader(kEventLog, maxEvents + 1), m, used),
              DecodeStatus::Bad);
    EXPECT_EQ(DecodeAll(Direction::FromAgent, logHeader(kDataLog, 0xFFFFFFFF), m, used),
              DecodeStatus::Bad);
    // A string inside a record, too long for any message from the agent.
    Bytes basic = Cat(Encode(kBasicInfo), {0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80});
    EXPECT_EQ(DecodeAll(Direction::FromAgent, basic, m, used), DecodeStatus::Bad);
}

// A message on its way costs the receiver what has arrived, whatever its lengths and counts
// announce: each decode stops at the first length whose bytes are not all there.
TEST(LinkMessage, AnnouncedLengthsWaitForTheirBytesUnallocated) {
    Message m;
    std::size_t used = 0;
    Bytes password = PasswordHeader(900000);
    password.resize(password.size() + 100, 'x');
    CConfig config;
    config.mailServer = Letters(800000);
    Bytes record = EncodeRecord(kConfig, config);
    record.resize(record.size() / 2);
    CSchedule schedule;
    for (std::uint32_t i = 0; i < 50000; ++i) schedule.Add(CScheduleDetail(kSelfTest, 1, 0, i));
    Bytes entries = EncodeRecord(kSchedule, schedule);
    entries.resize(entries.size() - 1);

    largest = 0;
    watching = true;
    const auto partPassword = Decode(Direction::ToAgent, password, m, used);
    const auto partConfig = Decode(Direction::ToAgent, record, m, used);
    const auto partSchedule = Decode(Direction::ToAgent, entries, m, used);
    watching = false;
    EXPECT_EQ(partPassword, DecodeStatus::NeedMore);
    EXPECT_EQ(partConfig, DecodeStatus::NeedMore);
    EXPECT_EQ(partSchedule, DecodeStatus::NeedMore);
    EXPECT_LT(largest.load(), 64u * 1024)
        << "a partial message made the receiver reserve its length";
}

// A record that is still incomplete when the receiver holds the limit will never be a message.
TEST(LinkMessage, AMessageLongerThanTheLimitIsBad) {
    CSchedule schedule;
    for (std::size_t i = 0; i < kMaxToAgent / CScheduleDetail::kBytes + 1; ++i)
        schedule.Add(CScheduleDetail(kSelfTest, 1, 0, static_cast<std::uint32_t>(i)));
    const Bytes big = EncodeRecord(kSchedule, schedule);
    ASSERT_GT(big.size(), kMaxToAgent);
    Message m;
    std::size_t used = 0;
    EXPECT_EQ(DecodeAll(Direction::ToAgent, big, m, used), DecodeStatus::Bad);
    EXPECT_EQ(Decode(Direction::ToAgent, std::span<const std::uint8_t>(big).first(kMaxToAgent - 1),
                     m, used),
              DecodeStatus::NeedMore);
    // The agent's side takes it: its limit is larger.
    EXPECT_EQ(DecodeAll(Direction::FromAgent, big, m, used), DecodeStatus::Complete);
}

TEST(LinkMessage, CopyDataPayloadAlone) {
    Message m;
    const Bytes minutes{10, 0, 0, 0};
    ASSERT_TRUE(DecodePayload(Direction::ToAgent, kTestMinutes, minutes, m));
    EXPECT_EQ(m.number, 10);
    EXPECT_FALSE(DecodePayload(Direction::ToAgent, kTestMinutes, Bytes{10, 0, 0}, m));
    EXPECT_FALSE(DecodePayload(Direction::ToAgent, kTestMinutes, Bytes{10, 0, 0, 0, 0}, m));

    CConfig config;
    config.mailServer = "mail.example.org:2525";
    Bytes record = ToBytes(config);
    ASSERT_TRUE(DecodePayload(Direction::ToAgent, kConfig, record, m));
    ASSERT_NE(m.As<CConfig>(), nullptr);
    EXPECT_EQ(*m.As<CConfig>(), config);
    EXPECT_FALSE(DecodePayload(Direction::ToAgent, kConfig,
                               std::span<const std::uint8_t>(record).first(record.size() - 1), m));
    record.push_back(0);
    EXPECT_FALSE(DecodePayload(Direction::ToAgent, kConfig, record, m));

    // Locally code 1 registers the sender and has no password.
    EXPECT_TRUE(DecodePayload(Direction::ToAgent, kPassword, {}, m));
    EXPECT_EQ(m.payload, Payload::None);
    EXPECT_FALSE(DecodePayload(Direction::ToAgent, kPassword, Bytes{0}, m));
    EXPECT_TRUE(DecodePayload(Direction::ToAgent, kGetConfig, {}, m));
    EXPECT_FALSE(DecodePayload(Direction::ToAgent, kGetConfig, Bytes{1}, m));
}

// Counts how much the reader takes out of the stream.
class CountingStream final : public ByteSource {
  public:
    explicit CountingStream(Bytes bytes) : inner_(std::move(bytes)) {}
    std::size_t Read(std::span<std::uint8_t> out) override {
        const std::size_t n = inner_.Read(out);
        taken += n;
        return n;
    }
    std::size_t taken = 0;

  private:
    test::StreamSource inner_;
};

TEST(LinkMessageRead, TakesExactlyOneMessageFromAStream) {
    const auto samples = Samples();
    Bytes stream;
    std::vector<const Sample*> sent;
    for (const auto& s : samples) {
        if (s.direction != Direction::FromAgent) continue;
        stream = Cat(stream, s.bytes);
        sent.push_back(&s);
    }
    CountingStream source(stream);
    std::size_t offset = 0;
    for (const Sample* s : sent) {
        SCOPED_TRACE(s->name);
        const Message m = Read(Direction::FromAgent, source);
        offset += s->bytes.size();
        EXPECT_EQ(source.taken, offset);
        EXPECT_EQ(m.payload, s->payload);
        if (m.record) {
            EXPECT_EQ(EncodeRecord(m.code, *m.record), s->bytes);
        }
    }
    try {
        Read(Direction::FromAgent, source);
        FAIL() << "read past the end";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.code(), ArchiveErrc::EndOfData);
    }
}

TEST(LinkMessageRead, TruncatedAndImpossibleMessages) {
    const auto expectError = [](Direction d, Bytes bytes, ArchiveErrc code) {
        test::StreamSource source(std::move(bytes));
        try {
            Read(d, source);
            ADD_FAILURE() << "no error";
        } catch (const ArchiveError& e) {
            EXPECT_EQ(e.code(), code) << e.what();
        }
    };
    CUPSBasicInfo basic;
    basic.Set({"raw", "c", "m", "v"});
    const Bytes whole = EncodeRecord(kBasicInfo, basic);
    for (std::size_t n = 0; n < whole.size(); ++n)
        expectError(Direction::FromAgent, Bytes(whole.begin(), whole.begin() + n),
                    ArchiveErrc::EndOfData);
    // Announced lengths beyond the limit fail at once, not after a wait for the bytes.
    expectError(Direction::ToAgent, PasswordHeader(0xFFFFFFFF), ArchiveErrc::Corrupt);
    expectError(Direction::FromAgent, Cat(Encode(kDataLog), {0xFF, 0xFF, 0xFF, 0xFF}),
                ArchiveErrc::Corrupt);
    // A schedule whose count fits but whose entries run past the limit.
    CSchedule schedule;
    for (std::size_t i = 0; i < kMaxToAgent / CScheduleDetail::kBytes + 1; ++i)
        schedule.Add(CScheduleDetail{});
    expectError(Direction::ToAgent, EncodeRecord(kSchedule, schedule), ArchiveErrc::Corrupt);
}

// The exchange shown in docs/protocol.md, byte for byte.
TEST(LinkMessage, TheDocumentedExchange) {
    EXPECT_EQ(EncodeText(kPassword, "pw"), (Bytes{0x01, 0, 0, 0, 0x02, 0x70, 0x77}));
    EXPECT_EQ(Encode(kConnected), (Bytes{0x13, 0, 0, 0}));
    CUPSBasicInfo basic;
    basic.Set({"#r", "Stavlen", "SP-700", "1.0"});
    EXPECT_EQ(EncodeRecord(kBasicInfo, basic),
              (Bytes{0x10, 0,   0,   0,   0x07, 'S', 't',  'a', 'v', 'l', 'e',  'n', 0x06,
                     'S',  'P', '-', '7', '0',  '0', 0x03, '1', '.', '0', 0x02, '#', 'r'}));
    CUPSStatus status;
    UPSStatusValues v{"(230.1", 2301, 2301, 2300, 125, 500, 1360, 250, 100, 0x0c};
    status.Set(v);
    EXPECT_EQ(EncodeRecord(kStatus, status),
              (Bytes{0x0f, 0, 0, 0, 0xfd, 0x08, 0,   0,   0xfd, 0x08, 0,   0,  0xfc, 0x08, 0, 0,
                     0x7d, 0, 0, 0, 0xf4, 0x01, 0,   0,   0x50, 0x05, 0,   0,  0xfa, 0,    0, 0,
                     0x64, 0, 0, 0, 0x0c, 0x06, '(', '2', '3',  '0',  '.', '1'}));
    EXPECT_EQ(EncodeNumber(kCountdown, 120), (Bytes{0x1b, 0, 0, 0, 0x78, 0, 0, 0}));
    const auto s300 = EncodeString(std::string(300, 'a'));
    EXPECT_EQ(Bytes(s300.begin(), s300.begin() + 3), (Bytes{0xff, 0x2c, 0x01}));
    const auto s70k = EncodeString(std::string(70000, 'a'));
    EXPECT_EQ(Bytes(s70k.begin(), s70k.begin() + 7),
              (Bytes{0xff, 0xff, 0xff, 0x70, 0x11, 0x01, 0}));
}

}  // namespace
}  // namespace ups::link
