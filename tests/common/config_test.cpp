#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "config.h"
#include "temp_root.h"

namespace {

std::string Zeros(std::size_t n) {
    return std::string(n, '\0');
}
std::string Field30(const std::string& text) {
    return text + Zeros(30 - text.size());
}

UpsConfig Defaults() {
    UpsConfig c;
    std::memset(&c, 0x5a, sizeof c);  // stale memory must never reach the file
    WeekSchedule s;
    InitConfig(&c, &s);
    return c;
}

WeekSchedule EmptyWeek() {
    UpsConfig c;
    WeekSchedule s;
    InitConfig(&c, &s);
    return s;
}

std::string Encoded(const UpsConfig& c, const WeekSchedule& s) {
    auto bytes = EncodeIni(c, s);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

const char* kDefaultCfg =
    "AC Fail Delay         ( 1 ... 1440 min. )  : [5]\n"
    "Batt Low Delay        ( 1 ... 10 min.   )  : [1]\n"
    "Turn Off UPS Delay    ( 0.2 ... 10 min. )  : [3.0]\n"
    "Battery Rating        ( 12.0 ... 96.0 v )  : [0.0]\n"
    "UPS Comport           ( /dev/xxttyxx    )  : [/dev/ttyS1]\n"
    "Turn Off UPS?         ( 0 - no, 1 - yes )  : [1]\n"
    "Schedule Function     ( 0 - off, 1 - on )  : [0]\n"
    "Countdown Function    ( 0 - off, 1 - on )  : [1]\n"
    "Communication Mode    ( 0-Port, 1-SNMP  )  : [0]\n"
    "SNMP IP Address       ( xxx.xxx.xxx.xxx )  : [127.0.0.1]\n"
    "SNMP Community Name   ( e.g. gazers     )  : [gazers]\n";

}  // namespace

TEST(ConfigImage, DefaultsAreTheDocumented232Bytes) {
    std::string expected = std::string("\x05\x00\x01\x00", 4) +  // delays 5 and 1
                           std::string("\x00\x00\x40\x40", 4) +  // 3.0f
                           Zeros(4) +                            // 0.0f
                           Field30("/dev/ttyS1") + Field30("127.0.0.1") + Field30("gazers") +
                           std::string("\x00\x00\x01\x00", 4) +  // schedule off, countdown on
                           Zeros(2) +                            // padding
                           Zeros(4) +                            // serial mode
                           std::string("\x01\x00\x00\x00", 4) +  // turn the UPS off
                           Zeros(4) +                            // reserved
                           std::string(112, '\xff');             // every schedule entry -1
    ASSERT_EQ(expected.size(), 232u);
    EXPECT_EQ(Encoded(Defaults(), EmptyWeek()), expected);
}

TEST(ConfigImage, FieldsLandAtTheirOffsetsAndRoundTrip) {
    UpsConfig c = Defaults();
    WeekSchedule s = EmptyWeek();
    c.acfail_delay = -2;
    c.turnoff_delay = 0.2f;
    c.comm_mode = 0x01020304;
    s.day[6] = ScheduleDay{7, 8, 22, 59};
    std::string bytes = Encoded(c, s);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xfe\xff", 2));
    EXPECT_EQ(bytes.substr(108, 4), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(bytes.substr(120 + 6 * 16, 4), std::string("\x07\x00\x00\x00", 4));
    EXPECT_EQ(bytes.substr(120 + 6 * 16 + 12, 4), std::string("\x3b\x00\x00\x00", 4));

    UpsConfig back = Defaults();
    WeekSchedule back_s = EmptyWeek();
    DecodeIni({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, back, back_s);
    EXPECT_EQ(Encoded(back, back_s), bytes);
}

TEST(ConfigImage, ShortOrCorruptFileKeepsWhatItCannotFill) {
    UpsConfig c = Defaults();
    WeekSchedule s = EmptyWeek();
    // Only the two delays and half of the turn-off delay survive.
    std::string bytes("\x0a\x00\x02\x00\x00\x00", 6);
    DecodeIni({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, c, s);
    EXPECT_EQ(c.acfail_delay, 10);
    EXPECT_EQ(c.battlow_delay, 2);
    EXPECT_FLOAT_EQ(c.turnoff_delay, 3.0f);
    EXPECT_STREQ(c.comport, "/dev/ttyS1");

    // A text field without its NUL is cut inside its own 30 bytes.
    std::string full = Encoded(Defaults(), EmptyWeek());
    full.replace(12, 30, std::string(30, 'A'));
    DecodeIni({reinterpret_cast<const uint8_t*>(full.data()), full.size()}, c, s);
    EXPECT_EQ(std::string(c.comport), std::string(29, 'A'));
    EXPECT_STREQ(c.agent_ip, "127.0.0.1");
}

TEST(ConfigText, DefaultFileReadsLineByLine) {
    EXPECT_EQ(FormatCfgText(Defaults()), kDefaultCfg);
}

TEST(ConfigText, ReaderQuirksOfTheTurnOffDelayAndBatteryRating) {
    struct Case {
        const char* turnoff;
        float want;
    } cases[] = {{"0.2", 0.2f},   {"0.5", 0.5f}, {"2.5", 2.0f},
                 {"10.0", 10.0f}, {"1", 1.0f},   {"0", 0.0f}};
    for (const Case& k : cases) {
        UpsConfig c = Defaults();
        ApplyCfgText(std::string("[5] [1] [") + k.turnoff + "] [13.8]", c);
        EXPECT_FLOAT_EQ(c.turnoff_delay, k.want) << k.turnoff;
        EXPECT_FLOAT_EQ(c.battery_rating, 13.0f);
    }
}

TEST(ConfigText, SeparatorsCollapseSoEmptyOrBlankValuesShiftTheRest) {
    UpsConfig c = Defaults();
    // Empty brackets vanish: 7 lands in battlow_delay, 3.0 in turnoff, and so on.
    ApplyCfgText("a [] b [7] c [3.0] d [24.0] e [/dev/ttyUSB0]", c);
    EXPECT_EQ(c.acfail_delay, 7);
    EXPECT_FLOAT_EQ(c.turnoff_delay, 24.0f);
    EXPECT_FLOAT_EQ(c.battery_rating, 0.0f);  // "/dev/ttyUSB0" has no digits
    EXPECT_STREQ(c.comport, "/dev/ttyS1");    // no fifth value: kept

    UpsConfig d = Defaults();
    ApplyCfgText("[10] [2] [1.0] [48.0] [my port] [1]", d);
    EXPECT_STREQ(d.comport, "my");
    EXPECT_EQ(d.turnoff_ups, 0);  // "port" reads as 0
    EXPECT_EQ(d.schedule_on, 1);  // the sixth value moved here
}

TEST(ConfigText, LongValuesAreCutNeverOverflow) {
    UpsConfig c = Defaults();
    std::string long_port(200, 'p');
    ApplyCfgText("[5] [1] [3.0] [0.0] [" + long_port + "] [1] [0] [1] [0] [127.0.0.1] [gazers]", c);
    EXPECT_EQ(std::string(c.comport), std::string(29, 'p'));
    EXPECT_EQ(c.turnoff_ups, 1);
    EXPECT_STREQ(c.community, "gazers");

    // The collection stops at 499 characters: values past it are not seen at all.
    UpsConfig d = Defaults();
    ApplyCfgText("[5] [1] [3.0] [0.0] [" + std::string(600, 'x') + "] [0] [1]", d);
    EXPECT_EQ(d.turnoff_ups, 1);
    EXPECT_EQ(d.schedule_on, 0);

    // Numbers beyond the fields saturate instead of wrapping.
    UpsConfig e = Defaults();
    ApplyCfgText("[99999999999] [-70000]", e);
    EXPECT_EQ(e.acfail_delay, 32767);
    EXPECT_EQ(e.battlow_delay, -32768);
}

TEST(ConfigFiles, WriteThenReadGivesTheSameRecordAndSchedule) {
    TempRoot root;
    UpsConfig c = Defaults();
    WeekSchedule s = EmptyWeek();
    c.acfail_delay = 60;
    c.turnoff_delay = 0.2f;
    c.battery_rating = 24.0f;
    SetConfigText(c.comport, "/dev/ttyUSB0");
    c.comm_mode = 1;
    s.day[1] = ScheduleDay{7, 0, 22, 0};
    ASSERT_EQ(WriteConfig(&c, &s), 1);
    EXPECT_EQ(root.Read("vorn.ini").size(), 232u);

    UpsConfig back = Defaults();
    WeekSchedule back_s = EmptyWeek();
    ASSERT_EQ(ReadConfig(&back, &back_s), 1);
    EXPECT_EQ(Encoded(back, back_s), Encoded(c, s));
}

TEST(ConfigFiles, TextFileOverridesTheImageAndMissingFilesFail) {
    TempRoot root;
    UpsConfig c = Defaults();
    WeekSchedule s = EmptyWeek();
    EXPECT_EQ(ReadConfig(&c, &s), 0);
    ASSERT_EQ(WriteConfig(&c, &s), 1);
    root.Write("kelvora.cfg", "edited by hand: [15] [3]\n");
    ASSERT_EQ(ReadConfig(&c, &s), 1);
    EXPECT_EQ(c.acfail_delay, 15);
    EXPECT_EQ(c.battlow_delay, 3);
    EXPECT_FLOAT_EQ(c.turnoff_delay, 3.0f);  // from the image

    std::filesystem::remove(root.Path("kelvora.cfg"));
    EXPECT_EQ(ReadConfig(&c, &s), 0);
}

// A write that fails part of the way (here the second file outgrows the file-size limit, as it
// would a full disk) must leave both old files as they were: a new vorn.ini beside the old
// kelvora.cfg would read back as neither configuration.
TEST(ConfigFiles, AFailedWriteKeepsBothOldFiles) {
    TempRoot root;
    UpsConfig c = Defaults();
    WeekSchedule s = EmptyWeek();
    ASSERT_EQ(WriteConfig(&c, &s), 1);
    const std::string old_ini = root.Read("vorn.ini");
    const std::string old_cfg = root.Read("kelvora.cfg");
    ASSERT_GT(old_cfg.size(), kIniFileSize);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{kIniFileSize + 8, kIniFileSize + 8};
        setrlimit(RLIMIT_FSIZE, &limit);
        UpsConfig changed = Defaults();
        changed.acfail_delay = 120;
        WeekSchedule week = EmptyWeek();
        week.day[3] = ScheduleDay{8, 0, 23, 30};
        _exit(WriteConfig(&changed, &week) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write reported success";
    EXPECT_EQ(root.Read("vorn.ini"), old_ini);
    EXPECT_EQ(root.Read("kelvora.cfg"), old_cfg);
    std::size_t leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root.dir())) {
        leftovers += entry.path().filename().string().find(".tmp") != std::string::npos;
    }
    EXPECT_EQ(leftovers, 0u);
}
