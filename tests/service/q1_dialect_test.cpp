// The Q1 replies: what each layout yields, and that anything short of the exact layout moves no
// value at all.
#include "q1_dialect.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace torvane::q1 {
namespace {

using namespace std::string_literals;

const std::string kFirstStatus = "(230.0 230.0 230.0 021 50.0 2.25 25.0 00001000\r";
const std::string kBasic = "#Stavlen         SIM-1000   1.0       \r";
const std::string kRating = "#230.0 004 24.00 50.0\r";

TEST(Q1Status, FirstStatusLineGivesScaledValuesAndStatusByte) {
    const auto v = ParseStatus(kFirstStatus);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->inputVoltage, 2300);
    EXPECT_EQ(v->inputFaultVoltage, 2300);
    EXPECT_EQ(v->outputVoltage, 2300);
    EXPECT_EQ(v->load, 210);
    EXPECT_EQ(v->inputFrequency, 500);
    EXPECT_EQ(v->batteryVoltage, 225);
    EXPECT_EQ(v->temperature, 250);
    EXPECT_EQ(v->status, 0x08);
    EXPECT_EQ(v->rawLine, kFirstStatus);
}

TEST(Q1Status, BitsReadWithBitSevenFirst) {
    auto line = kFirstStatus;
    line.replace(38, 8, "10000001");
    EXPECT_EQ(ParseStatus(line)->status, 0x81);
    line.replace(38, 8, "01100110");
    EXPECT_EQ(ParseStatus(line)->status, 0x66);
}

TEST(Q1Status, DecimalsAreTruncatedExactlyNotThroughFloatingPoint) {
    // 2.01 x 100 in doubles is 200.99999...; a parse through floating point would store 200.
    auto line = kFirstStatus;
    line.replace(28, 4, "2.01");
    EXPECT_EQ(ParseStatus(line)->batteryVoltage, 201);
    line.replace(28, 4, "4.35");
    EXPECT_EQ(ParseStatus(line)->batteryVoltage, 435);
    line.replace(28, 4, "2.27");
    EXPECT_EQ(ParseStatus(line)->batteryVoltage, 227);
    line.replace(28, 4, "13.6");
    EXPECT_EQ(ParseStatus(line)->batteryVoltage, 1360);
    line.replace(1, 5, "229.9");
    EXPECT_EQ(ParseStatus(line)->inputVoltage, 2299);
    // More decimals than the scale keeps: cut, never rounded up.
    line.replace(23, 4, "49.9");
    EXPECT_EQ(ParseStatus(line)->inputFrequency, 499);
    line.replace(28, 4, "2.279");  // five characters shift the layout: refused
    EXPECT_FALSE(ParseStatus(line));
}

TEST(Q1Number, FieldRules) {
    EXPECT_EQ(ParseNumber("2.279", 100), 227);
    EXPECT_EQ(ParseNumber("021", 10), 210);
    EXPECT_EQ(ParseNumber(".5", 10), 5);
    EXPECT_EQ(ParseNumber("7.", 10), 70);
    EXPECT_FALSE(ParseNumber("", 10));
    EXPECT_FALSE(ParseNumber(".", 10));
    EXPECT_FALSE(ParseNumber("1.2.3", 10));
    EXPECT_FALSE(ParseNumber("-5.0", 10));
    EXPECT_FALSE(ParseNumber("2 .5", 10));
    EXPECT_FALSE(ParseNumber("2\0.5"s, 10));
    EXPECT_FALSE(ParseNumber("9999999999", 10));
}

// Every position that must hold a separator, the lead or the carriage return, broken one at a
// time: the line is refused and the record keeps what it had.
TEST(Q1Status, AnySeparatorOutOfPlaceChangesNothing) {
    ups::CUPSStatus record;
    ASSERT_TRUE(ParseStatus(kFirstStatus, record));
    const auto before = record.Get();
    for (std::size_t at : {0u, 6u, 12u, 18u, 22u, 27u, 32u, 37u, 46u}) {
        auto line = kFirstStatus;
        line[at] = at == 0 ? '#' : '0';
        EXPECT_FALSE(ParseStatus(line)) << "column " << at;
        EXPECT_FALSE(ParseStatus(line, record)) << "column " << at;
        EXPECT_EQ(record.Get(), before) << "column " << at;
    }
    // A separator moved by one column: the field next to it now holds a space.
    auto shifted = "(230.0 230.0 230.0 021 50.0  2.2 25.0 00001000\r"s;
    shifted[27] = '5';
    shifted[28] = ' ';
    EXPECT_FALSE(ParseStatus(shifted));
}

TEST(Q1Status, NonDigitFieldOrBitRefusesTheWholeLine) {
    ups::CUPSStatus record;
    ASSERT_TRUE(ParseStatus(kFirstStatus, record));
    const auto before = record.Get();
    const std::string broken[] = {
        "(23a.0 230.0 230.0 021 50.0 2.25 25.0 00001000\r",  // letter in input voltage
        "(230.0 230.0 230.0 021 50.0 2.25 -5.0 00001000\r",  // sign in temperature
        "(230.0 230.0 230.0 0x1 50.0 2.25 25.0 00001000\r",  // load
        "(230.0 230.0 230.0 021 50.0 2.25 25.0 00001002\r",  // a bit that is not 0 or 1
        "(230.0 230.0 230.0 021 50.0 2.25 25.0 0000100 \r",
        "(230.0 230.0 230.0 021 50.0 ..25 25.0 00001000\r",
        "(230.0 230.0 230.0 021 50.0 2.25 25.0 00001000\n",
    };
    for (const auto& line : broken) {
        EXPECT_FALSE(ParseStatus(line, record)) << line;
        EXPECT_EQ(record.Get(), before) << line;
    }
}

TEST(Q1Status, RecordKeepsItsCapacityUntilTheCallerStoresOne) {
    ups::CUPSStatus record;
    auto v = record.Get();
    v.batteryCapacity = 77;
    record.Set(v);
    ASSERT_TRUE(ParseStatus(kFirstStatus, record));
    EXPECT_EQ(record.Get().batteryCapacity, 77);
    EXPECT_EQ(record.Get().inputVoltage, 2300);
}

TEST(Q1Hostile, NulInAFieldOrLineIsRefused) {
    auto status = kFirstStatus;
    status[3] = '\0';
    EXPECT_FALSE(ParseStatus(status));
    status = kFirstStatus;
    status[40] = '\0';
    EXPECT_FALSE(ParseStatus(status));
    auto basic = kBasic;
    basic[5] = '\0';
    EXPECT_FALSE(ParseBasicInfo(basic));
    auto rating = kRating;
    rating[12] = '\0';
    EXPECT_FALSE(ParseRatingInfo(rating));
}

TEST(Q1Hostile, LongLinesAndRepliesRunTogetherAreRefused) {
    // The whole reply buffer, starting like a status line.
    std::string line = kFirstStatus;
    line.resize(kReplyBufferSize, 'x');
    EXPECT_EQ(ClassifyReply(line), ReplyKind::kStatus);
    EXPECT_FALSE(ParseStatus(line));
    // A valid status followed by the start of the next one.
    EXPECT_FALSE(ParseStatus(kFirstStatus + "(230"));
    // Cut short at every length.
    for (std::size_t n = 0; n < kFirstStatus.size(); ++n) {
        EXPECT_FALSE(ParseStatus(kFirstStatus.substr(0, n))) << n;
    }
    for (std::size_t n = 0; n < kBasic.size(); ++n)
        EXPECT_FALSE(ParseBasicInfo(kBasic.substr(0, n)));
    for (std::size_t n = 0; n < kRating.size(); ++n) {
        EXPECT_FALSE(ParseRatingInfo(kRating.substr(0, n)));
    }
    std::string basicLong = kBasic;
    basicLong.resize(kReplyBufferSize, ' ');
    EXPECT_FALSE(ParseBasicInfo(basicLong));
}

TEST(Q1Hostile, RandomBytesNeverParse) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(0, kReplyBufferSize);
    int parsed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string bytes(length(random), '\0');
        for (auto& c : bytes) c = static_cast<char>(byte(random));
        if (i % 2 == 0 && !bytes.empty()) bytes[0] = i % 4 == 0 ? '(' : '#';
        parsed += ParseStatus(bytes).has_value() + ParseBasicInfo(bytes).has_value() +
                  ParseRatingInfo(bytes).has_value();
        (void)ClassifyReply(bytes);
    }
    EXPECT_EQ(parsed, 0);
}

TEST(Q1Basic, FieldsCopiedWithTheirPadding) {
    ups::CUPSBasicInfo record;
    ASSERT_TRUE(ParseBasicInfo(kBasic, record));
    const auto v = record.Get();
    EXPECT_EQ(v.company, "Stavlen        ");
    EXPECT_EQ(v.model, "SIM-1000  ");
    EXPECT_EQ(v.version, "1.0       ");
    EXPECT_EQ(v.rawLine, kBasic);
    auto moved = kBasic;
    moved[16] = 'x';
    EXPECT_FALSE(ParseBasicInfo(moved, record));
    moved = kBasic;
    moved[27] = 'x';
    EXPECT_FALSE(ParseBasicInfo(moved, record));
    EXPECT_EQ(record.Get(), v);
}

TEST(Q1Rating, ScaledValues) {
    const auto v = ParseRatingInfo(kRating);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->voltage, 2300);
    EXPECT_EQ(v->current, 40);
    EXPECT_EQ(v->batteryVoltage, 2400);
    EXPECT_EQ(v->frequency, 500);
    EXPECT_EQ(v->rawLine, kRating);
    for (std::size_t at : {6u, 10u, 16u, 21u}) {
        auto line = kRating;
        line[at] = '1';
        EXPECT_FALSE(ParseRatingInfo(line)) << at;
    }
    EXPECT_FALSE(ParseRatingInfo("#230.0 0A4 24.00 50.0\r"));
}

}  // namespace
}  // namespace torvane::q1
