// The configuration, notification and UPS records: golden bytes, round trips, and what a load
// does with a value that ends early.
#include <gtest/gtest.h>

#include "test_support.h"
#include "ups_lib/config.h"
#include "ups_lib/config_fields.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/ups_records.h"

namespace ups {
namespace {

using test::ReadData;

CConfig NonDefaultConfig() {
    CConfig c;
    c.upsType = CConfig::kSec96;
    c.comPort = 2;
    c.baudRate = 9600;
    c.reserved1 = -7;
    c.dataLogOn = 1;
    c.dataLogInterval = 60;
    c.acFailDelay = 5;
    c.batteryLowDelay = 2;
    c.upsOffDelay = 240;
    c.runProgram = 1;
    c.programCmdLine = std::string(300, 'p');
    c.reserved2 = 0x7FFFFFFF;
    c.scheduleWarnTime = 15;
    c.closeApps = 0;
    c.shutdownWindows = 0;
    c.showWarnings = 1;
    c.warnRepeat = 45;
    c.emailOn = 1;
    c.pagerOn = 1;
    c.mailServer = "mail.example.org";
    c.pagerPort = 3;
    c.agentPassword = "s3cret";
    c.turnUpsOff = 0;
    c.showLastShutdown = 0;
    return c;
}

TEST(ConfigRecord, DefaultsAreTheGolden87Bytes) {
    CConfig c;
    EXPECT_EQ(c.comPort, CConfig::kNoPort);
    EXPECT_EQ(c.Key(), "Software\\Stavlen\\Torvane");
    EXPECT_EQ(c.Value(), "config");
    const auto bytes = ToBytes(c);
    EXPECT_EQ(bytes.size(), 87u);
    EXPECT_EQ(bytes, ReadData("config_default.bin"));
}

TEST(ConfigRecord, EveryFieldRoundTrips) {
    CConfig c = NonDefaultConfig();
    const auto bytes = ToBytes(c);
    CConfig back;
    EXPECT_EQ(LoadRecordBytes(back, bytes), LoadResult::Loaded);
    EXPECT_EQ(back, c);
    EXPECT_EQ(ToBytes(back), bytes);
}

TEST(ConfigRecord, TruncatedValueKeepsWhatWasReadAndTheRest) {
    // The golden value cut inside field 7: fields 1-6 come from the value, the rest stay.
    CConfig c = NonDefaultConfig();
    EXPECT_EQ(LoadRecordBytes(c, ReadData("config_truncated.bin")), LoadResult::Partial);
    EXPECT_EQ(c.upsType, 0);
    EXPECT_EQ(c.comPort, 4);
    EXPECT_EQ(c.baudRate, 2400);
    EXPECT_EQ(c.reserved1, 0);
    EXPECT_EQ(c.dataLogOn, 0);
    EXPECT_EQ(c.dataLogInterval, 30);
    EXPECT_EQ(c.acFailDelay, 5);  // cut inside: the old value stays
    EXPECT_EQ(c.programCmdLine, std::string(300, 'p'));
    EXPECT_EQ(c.agentPassword, "s3cret");
    EXPECT_EQ(c.showLastShutdown, 0);
}

TEST(ConfigRecord, HostileStringLengthStopsTheLoad) {
    auto bytes = ReadData("config_default.bin");
    bytes.resize(40);  // ten numbers, then the program string
    for (std::uint8_t b : {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) bytes.push_back(b);
    CConfig c;
    c.programCmdLine = "old";
    EXPECT_EQ(LoadRecordBytes(c, bytes), LoadResult::Partial);
    EXPECT_EQ(c.programCmdLine, "old");
    EXPECT_EQ(c.runProgram, 0);
}

TEST(ConfigRecord, AcceptedValuesAreTheFieldsRangesAtTheirEdges) {
    EXPECT_EQ(ConfigProblem(CConfig{}), "");
    EXPECT_EQ(ConfigProblem(NonDefaultConfig()), "");
    struct Case {
        std::int32_t CConfig::*member;
        std::int32_t lowest, highest;
    };
    for (const Case c :
         {Case{&CConfig::acFailDelay, 1, 2880}, Case{&CConfig::batteryLowDelay, 1, 600},
          Case{&CConfig::dataLogInterval, 0, 600}, Case{&CConfig::warnRepeat, 10, 600},
          Case{&CConfig::upsOffDelay, 12, 5940}, Case{&CConfig::upsType, 0, 4},
          Case{&CConfig::comPort, 0, 4}, Case{&CConfig::pagerPort, 0, 3}}) {
        CConfig config;
        config.*c.member = c.lowest;
        EXPECT_EQ(ConfigProblem(config), "");
        config.*c.member = c.highest;
        EXPECT_EQ(ConfigProblem(config), "");
        config.*c.member = c.lowest - 1;
        EXPECT_NE(ConfigProblem(config), "") << c.lowest - 1;
        config.*c.member = c.highest + 1;
        EXPECT_NE(ConfigProblem(config), "") << c.highest + 1;
    }
    CConfig config;
    config.batteryLowDelay = 0;
    EXPECT_EQ(ConfigProblem(config), "batteryLowDelay 0 is outside 1..600");
    config = CConfig{};
    config.programCmdLine.assign(CConfig::kMaxProgramLength, 'x');
    EXPECT_EQ(ConfigProblem(config), "");
    config.programCmdLine.push_back('x');
    EXPECT_EQ(ConfigProblem(config), "programCmdLine is longer than 300 characters");
}

TEST(MsgTabRecord, DefaultsAreTheGoldenBytes) {
    CMsgTab m;
    EXPECT_EQ(m.text[kUtilityFailed], "Attention! Utility Power Failure!");
    EXPECT_EQ(m.text[kUpsFailure], "Attention! UPS Failure");
    EXPECT_EQ(m.Value(), "msgTab");
    EXPECT_EQ(ToBytes(m), ReadData("msgtab_default.bin"));
}

TEST(MsgTabRecord, RoundTripKeepsKindOrder) {
    CMsgTab m;
    for (int k = 0; k < kNotifyKinds; ++k) {
        m.address[k] = "ops" + std::to_string(k) + "@example.org";
        m.number[k] = std::to_string(5550100 + k);
        m.code[k] = std::string(static_cast<std::size_t>(k) * 100, 'c');  // crosses 255 at k=3
    }
    CMsgTab back;
    for (auto& t : back.text) t.clear();
    EXPECT_EQ(LoadRecordBytes(back, ToBytes(m)), LoadResult::Loaded);
    EXPECT_EQ(back, m);
    // The first fields on the wire are kind 0's four strings.
    const auto bytes = ToBytes(m);
    EXPECT_EQ(bytes[0], m.text[0].size());
    EXPECT_EQ(bytes[1 + m.text[0].size()], m.address[0].size());
}

TEST(UpsRecords, StatusLayoutAndRoundTrip) {
    CUPSStatus s;
    UPSStatusValues v;
    v.rawLine = "(226.0 195.0 226.0 014 49.0 27.5 30.0 00001001\r";
    v.inputVoltage = 2260;
    v.inputFaultVoltage = 1950;
    v.outputVoltage = 2260;
    v.load = 140;
    v.inputFrequency = 490;
    v.batteryVoltage = 2750;
    v.temperature = 300;
    v.batteryCapacity = 100;
    v.status = kUtilityFail | kBeeperOn;
    s.Set(v);
    const auto bytes = ToBytes(s);
    ASSERT_EQ(bytes.size(), 8 * 4 + 1 + 1 + v.rawLine.size());
    EXPECT_EQ(bytes[0], 2260 & 0xFF);
    EXPECT_EQ(bytes[28], 100);   // battery capacity is the eighth number
    EXPECT_EQ(bytes[32], 0x81);  // then the status byte
    EXPECT_EQ(bytes[33], v.rawLine.size());
    CUPSStatus back;
    EXPECT_EQ(LoadRecordBytes(back, bytes), LoadResult::Loaded);
    EXPECT_EQ(back.Get(), v);
    CUPSStatus copy = back;
    EXPECT_EQ(copy.Get(), v);
}

TEST(UpsRecords, BasicAndRatingRoundTrip) {
    CUPSBasicInfo b;
    b.Set({"#STAVLEN        UPS-1000K  V2.1      \r", "STAVLEN", "UPS-1000K", "V2.1"});
    const auto bb = ToBytes(b);
    EXPECT_EQ(bb[0], 7);  // company comes first, the raw line last
    CUPSBasicInfo b2;
    EXPECT_EQ(LoadRecordBytes(b2, bb), LoadResult::Loaded);
    EXPECT_EQ(b2.Get(), b.Get());

    CUPSRatingInfo r;
    r.Set({"#220.0 004 24.00 50.0\r", 2200, 40, 2400, 500});
    const auto rb = ToBytes(r);
    ASSERT_EQ(rb.size(), 16 + 1 + 22u);
    EXPECT_EQ(rb[4], 40);
    CUPSRatingInfo r2;
    EXPECT_EQ(LoadRecordBytes(r2, rb), LoadResult::Loaded);
    EXPECT_EQ(r2.Get(), r.Get());
}

}  // namespace
}  // namespace ups
