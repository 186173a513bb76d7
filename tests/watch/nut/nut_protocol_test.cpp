// The NUT protocol on the byte: what upsc, upsmon and Home Assistant send, and exactly what they
// get back, from a UPS that answers, one that has fallen silent and a peer that guesses.
#include "watch/nut/nut_protocol.h"

#include <gtest/gtest.h>

#include <climits>

namespace torvane::nut {
namespace {

using watch::NutAccess;
using watch::UpsSnapshot;

class NutProtocolTest : public ::testing::Test {
  protected:
    NutProtocolTest() {
        ups.connected = true;
        ups.status.rawLine = "(230.4 230.4 230.0 021 50.0 27.30 25.0 00001001\r";
        ups.status.inputVoltage = 2304;
        ups.status.outputVoltage = 2300;
        ups.status.load = 210;
        ups.status.inputFrequency = 500;
        ups.status.batteryVoltage = 2730;
        ups.status.temperature = 250;
        ups.status.batteryCapacity = 100;
        // As the UPS pads them.
        ups.basic.rawLine = "#Stavlen         SR-1000    1.02      \r";
        ups.basic.company = "Stavlen        ";
        ups.basic.model = "SR-1000   ";
        ups.basic.version = "1.02      ";
        ups.rating.rawLine = "#230.0 004 24.00 50.0\r";
        ups.rating.voltage = 2300;
        ups.rating.current = 40;
        ups.rating.batteryVoltage = 2400;
        ups.rating.frequency = 500;
    }

    Result Do(std::string_view line) {
        const Context context{ups, access, logins, &clients};
        return HandleLine(session, line, context);
    }
    std::string Ask(std::string_view line) { return Do(line).reply; }
    void LogIn(std::string_view user, std::string_view password) {
        ASSERT_EQ(Ask("USERNAME " + std::string(user)), "OK\n");
        ASSERT_EQ(Ask("PASSWORD " + std::string(password)), "OK\n");
    }

    UpsSnapshot ups;
    NutAccess access{"admin", "s3cret"};
    int logins = 0;
    std::vector<std::string> clients;
    Session session;
};

TEST_F(NutProtocolTest, VersionsAndHelpSayWhoWeAre) {
    EXPECT_EQ(Ask("VER"), "Torvane agent - NUT network protocol 1.3\n");
    EXPECT_EQ(Ask("NETVER"), "1.3\n");
    EXPECT_EQ(Ask("HELP"),
              "Commands: HELP VER NETVER GET LIST USERNAME PASSWORD LOGIN LOGOUT PRIMARY MASTER "
              "FSD STARTTLS\n");
    // Typed by hand, in any case, with the line end a telnet leaves.
    EXPECT_EQ(Ask("netver\r"), "1.3\n");
    EXPECT_EQ(Ask("VER 2"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("STARTTLS"), "ERR FEATURE-NOT-CONFIGURED\n");
}

TEST_F(NutProtocolTest, TheOneUpsIsListedAndDescribed) {
    EXPECT_EQ(Ask("LIST UPS"),
              "BEGIN LIST UPS\nUPS ups \"UPS watched by the Torvane agent\"\nEND LIST UPS\n");
    EXPECT_EQ(Ask("GET UPSDESC ups"), "UPSDESC ups \"UPS watched by the Torvane agent\"\n");
    EXPECT_EQ(Ask("GET UPSDESC other"), "ERR UNKNOWN-UPS\n");
}

TEST_F(NutProtocolTest, EveryVariableIsPrintedAsNutPrintsIt) {
    const std::pair<std::string_view, std::string_view> expected[] = {
        {"battery.charge", "100"},
        {"battery.voltage", "27.30"},
        {"battery.voltage.nominal", "24.00"},
        {"device.mfr", "Stavlen"},
        {"device.model", "SR-1000"},
        {"device.type", "ups"},
        {"input.frequency", "50.0"},
        {"input.frequency.nominal", "50.0"},
        {"input.voltage", "230.4"},
        {"input.voltage.nominal", "230.0"},
        {"output.voltage", "230.0"},
        {"ups.firmware", "1.02"},
        {"ups.load", "21"},
        {"ups.mfr", "Stavlen"},
        {"ups.model", "SR-1000"},
        {"ups.status", "OL"},
        {"ups.temperature", "25.0"},
    };
    std::string list = "BEGIN LIST VAR ups\n";
    for (const auto& [name, value] : expected) {
        const std::string line =
            "VAR ups " + std::string(name) + " \"" + std::string(value) + "\"\n";
        EXPECT_EQ(Ask("GET VAR ups " + std::string(name)), line);
        list += line;
    }
    list += "END LIST VAR ups\n";
    EXPECT_EQ(Ask("LIST VAR ups"), list);
}

TEST_F(NutProtocolTest, LoadKeepsItsTenthOnlyWhenTheUpsGivesOne) {
    ups.status.load = 215;
    EXPECT_EQ(Ask("GET VAR ups ups.load"), "VAR ups ups.load \"21.5\"\n");
    ups.status.load = 1000;
    EXPECT_EQ(Ask("GET VAR ups ups.load"), "VAR ups ups.load \"100\"\n");
}

TEST_F(NutProtocolTest, StatusWordsFollowTheAlarmsWithTheForcedShutdownFirst) {
    ups.acFail = true;
    EXPECT_EQ(Ask("GET VAR ups ups.status"), "VAR ups ups.status \"OB\"\n");
    ups.batteryLow = true;
    EXPECT_EQ(Ask("GET VAR ups ups.status"), "VAR ups ups.status \"OB LB\"\n");
    ups.forcedShutdown = true;
    EXPECT_EQ(Ask("GET VAR ups ups.status"), "VAR ups ups.status \"FSD OB LB\"\n");
}

TEST_F(NutProtocolTest, WhatTheUpsHasNotGivenIsNotSupported) {
    ups.basic = {};
    ups.basic.company = "               ";  // a blank field is no name either
    ups.rating = {};
    for (const char* name : {"ups.mfr", "ups.model", "ups.firmware", "device.mfr", "device.model",
                             "input.voltage.nominal"}) {
        EXPECT_EQ(Ask(std::string("GET VAR ups ") + name), "ERR VAR-NOT-SUPPORTED\n") << name;
        EXPECT_EQ(Ask(std::string("GET TYPE ups ") + name), "ERR VAR-NOT-SUPPORTED\n") << name;
    }
    std::string list = Ask("LIST VAR ups");
    EXPECT_EQ(list.find("ups.mfr"), std::string::npos);
    EXPECT_EQ(list.find("nominal"), std::string::npos);
    EXPECT_NE(list.find("VAR ups input.voltage \"230.4\"\n"), std::string::npos);

    // Connected, but no status reply yet: no figures, only what the alarms say.
    ups.status = {};
    list = Ask("LIST VAR ups");
    EXPECT_EQ(list,
              "BEGIN LIST VAR ups\nVAR ups device.type \"ups\"\nVAR ups ups.status \"OL\"\n"
              "END LIST VAR ups\n");
    EXPECT_EQ(Ask("GET VAR ups battery.charge"), "ERR VAR-NOT-SUPPORTED\n");
    EXPECT_EQ(Ask("GET VAR ups no.such.thing"), "ERR VAR-NOT-SUPPORTED\n");
}

TEST_F(NutProtocolTest, ASilentUpsIsStaleButAForcedShutdownIsStillTold) {
    ups.connected = false;
    EXPECT_EQ(Ask("GET VAR ups ups.status"), "ERR DATA-STALE\n");
    EXPECT_EQ(Ask("GET VAR ups input.voltage"), "ERR DATA-STALE\n");
    EXPECT_EQ(Ask("GET TYPE ups input.voltage"), "ERR DATA-STALE\n");
    EXPECT_EQ(Ask("LIST VAR ups"), "ERR DATA-STALE\n");
    // Naming a UPS we do not have is still the worse mistake.
    EXPECT_EQ(Ask("GET VAR other ups.status"), "ERR UNKNOWN-UPS\n");

    ups.forcedShutdown = true;
    EXPECT_EQ(Ask("GET VAR ups ups.status"), "VAR ups ups.status \"FSD\"\n");
    EXPECT_EQ(Ask("LIST VAR ups"),
              "BEGIN LIST VAR ups\nVAR ups ups.status \"FSD\"\nEND LIST VAR ups\n");
    EXPECT_EQ(Ask("GET VAR ups input.voltage"), "ERR DATA-STALE\n");
    EXPECT_EQ(Ask("GET VAR ups device.type"), "ERR DATA-STALE\n");
}

TEST_F(NutProtocolTest, TypesAndDescriptions) {
    EXPECT_EQ(Ask("GET TYPE ups input.voltage"), "TYPE ups input.voltage NUMBER\n");
    EXPECT_EQ(Ask("GET TYPE ups battery.charge"), "TYPE ups battery.charge NUMBER\n");
    EXPECT_EQ(Ask("GET TYPE ups ups.status"), "TYPE ups ups.status STRING:64\n");
    EXPECT_EQ(Ask("GET TYPE ups ups.mfr"), "TYPE ups ups.mfr STRING:15\n");
    EXPECT_EQ(Ask("GET TYPE ups ups.model"), "TYPE ups ups.model STRING:10\n");
    EXPECT_EQ(Ask("GET TYPE ups nothing"), "ERR VAR-NOT-SUPPORTED\n");
    EXPECT_EQ(Ask("GET DESC ups ups.status"), "DESC ups ups.status \"UPS status\"\n");
    EXPECT_EQ(Ask("GET DESC ups input.voltage"), "DESC ups input.voltage \"Input voltage (V)\"\n");
    EXPECT_EQ(Ask("GET DESC ups nothing"), "DESC ups nothing \"Description unavailable\"\n");
    EXPECT_EQ(Ask("GET DESC other ups.status"), "ERR UNKNOWN-UPS\n");
    EXPECT_EQ(Ask("GET CMDDESC ups load.off"), "ERR CMD-NOT-SUPPORTED\n");
}

TEST_F(NutProtocolTest, NothingToWriteAndNoCommands) {
    EXPECT_EQ(Ask("LIST CMD ups"), "BEGIN LIST CMD ups\nEND LIST CMD ups\n");
    EXPECT_EQ(Ask("LIST RW ups"), "BEGIN LIST RW ups\nEND LIST RW ups\n");
    EXPECT_EQ(Ask("LIST ENUM ups ups.status"),
              "BEGIN LIST ENUM ups ups.status\nEND LIST ENUM ups ups.status\n");
    EXPECT_EQ(Ask("LIST RANGE ups input.voltage"),
              "BEGIN LIST RANGE ups input.voltage\nEND LIST RANGE ups input.voltage\n");
    EXPECT_EQ(Ask("LIST ENUM ups nothing"), "ERR VAR-NOT-SUPPORTED\n");
    EXPECT_EQ(Ask("LIST CMD other"), "ERR UNKNOWN-UPS\n");
    EXPECT_EQ(Ask("SET VAR ups ups.mfr \"Other\""), "ERR READONLY\n");
    EXPECT_EQ(Ask("SET VAR ups nothing 1"), "ERR VAR-NOT-SUPPORTED\n");
    EXPECT_EQ(Ask("INSTCMD ups load.off"), "ERR CMD-NOT-SUPPORTED\n");
    EXPECT_EQ(Ask("INSTCMD other load.off"), "ERR UNKNOWN-UPS\n");
}

TEST_F(NutProtocolTest, ClientsAndTheirNumber) {
    EXPECT_EQ(Ask("LIST CLIENT ups"), "BEGIN LIST CLIENT ups\nEND LIST CLIENT ups\n");
    clients = {"10.0.0.2", "::1"};
    logins = 2;
    EXPECT_EQ(Ask("LIST CLIENT ups"),
              "BEGIN LIST CLIENT ups\nCLIENT ups 10.0.0.2\nCLIENT ups ::1\nEND LIST CLIENT ups\n");
    EXPECT_EQ(Ask("GET NUMLOGINS ups"), "NUMLOGINS ups 2\n");
    EXPECT_EQ(Ask("GET NUMLOGINS other"), "ERR UNKNOWN-UPS\n");
}

TEST_F(NutProtocolTest, MalformedRequestsGetTheNamedErrors) {
    EXPECT_EQ(Ask(""), "ERR UNKNOWN-COMMAND\n");
    EXPECT_EQ(Ask("REQ ups.status"), "ERR UNKNOWN-COMMAND\n");
    EXPECT_EQ(Ask("GET"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("GET VAR ups"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("GET SOMETHING ups"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("LIST"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("LIST VAR"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("LIST UPS ups"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("LIST VAR other"), "ERR UNKNOWN-UPS\n");
    EXPECT_EQ(Ask("GET VAR \"ups"), "ERR INVALID-ARGUMENT\n");
    EXPECT_EQ(Ask("GET VAR ups x\\"), "ERR INVALID-ARGUMENT\n");
    // The UPS's name is the name it is listed under, in that case.
    EXPECT_EQ(Ask("GET VAR UPS ups.status"), "ERR UNKNOWN-UPS\n");
}

TEST_F(NutProtocolTest, QuotesAndBackslashesInValuesAreEscaped) {
    ups.basic.company = "Ab\"c\\d";
    EXPECT_EQ(Ask("GET VAR ups ups.mfr"), "VAR ups ups.mfr \"Ab\\\"c\\\\d\"\n");
    EXPECT_EQ(Quote(""), "\"\"");
    EXPECT_EQ(Quote("a\nb\x7F"), "\"a?b?\"");
}

TEST_F(NutProtocolTest, WordsAreSplitAsNutClientsQuoteThem) {
    std::vector<std::string> words;
    ASSERT_TRUE(SplitWords("  SET VAR ups \"two words\"\t\"q\\\"b\\\\\" a\\ b \"\" ", words));
    EXPECT_EQ(words,
              (std::vector<std::string>{"SET", "VAR", "ups", "two words", "q\"b\\", "a b", ""}));
    EXPECT_FALSE(SplitWords("USERNAME \"open", words));
    EXPECT_FALSE(SplitWords("USERNAME end\\", words));
    ASSERT_TRUE(SplitWords("", words));
    EXPECT_TRUE(words.empty());
}

TEST_F(NutProtocolTest, LoginNeedsAUsernameAndAPasswordFirst) {
    EXPECT_EQ(Ask("LOGIN ups"), "ERR USERNAME-REQUIRED\n");
    EXPECT_EQ(Ask("USERNAME monuser"), "OK\n");
    EXPECT_EQ(Ask("USERNAME other"), "ERR ALREADY-SET-USERNAME\n");
    EXPECT_EQ(Ask("LOGIN ups"), "ERR PASSWORD-REQUIRED\n");
    EXPECT_FALSE(session.loggedIn);
    EXPECT_EQ(Ask("PASSWORD anything"), "OK\n");
    EXPECT_EQ(Ask("PASSWORD again"), "ERR ALREADY-SET-PASSWORD\n");
    EXPECT_EQ(Ask("LOGIN other"), "ERR UNKNOWN-UPS\n");
    EXPECT_FALSE(session.loggedIn);
    // Any user with any password: a secondary only asks to be waited for.
    EXPECT_EQ(Ask("LOGIN ups"), "OK\n");
    EXPECT_TRUE(session.loggedIn);
    EXPECT_EQ(Ask("LOGIN ups"), "ERR ALREADY-LOGGED-IN\n");
    EXPECT_EQ(session.username, "monuser");
    EXPECT_EQ(session.password, "anything");
}

TEST_F(NutProtocolTest, EmptyNamesAndPasswordsAreRefused) {
    EXPECT_EQ(Ask("USERNAME \"\""), "ERR INVALID-USERNAME\n");
    EXPECT_EQ(Ask("PASSWORD \"\""), "ERR INVALID-PASSWORD\n");
    EXPECT_FALSE(session.usernameSet);
    EXPECT_FALSE(session.passwordSet);
    EXPECT_EQ(Ask("USERNAME"), "ERR INVALID-ARGUMENT\n");
}

TEST_F(NutProtocolTest, LogoutSaysGoodbyeClosesAndDropsTheLogin) {
    LogIn("monuser", "pw");
    ASSERT_EQ(Ask("LOGIN ups"), "OK\n");
    const Result r = Do("LOGOUT");
    EXPECT_EQ(r.reply, "OK Goodbye\n");
    EXPECT_TRUE(r.close);
    EXPECT_FALSE(session.loggedIn);
    EXPECT_FALSE(Do("VER").close);
}

TEST_F(NutProtocolTest, OnlyTheConfiguredUserWithItsPasswordIsPrimary) {
    LogIn("admin", "s3cret");
    EXPECT_EQ(Ask("PRIMARY other"), "ERR UNKNOWN-UPS\n");
    const Result r = Do("PRIMARY ups");
    EXPECT_EQ(r.reply, "OK PRIMARY-GRANTED\n");
    EXPECT_FALSE(r.deniedAuth);
    EXPECT_TRUE(session.primary);
    EXPECT_EQ(Ask("MASTER ups"), "OK MASTER-GRANTED\n");
}

TEST_F(NutProtocolTest, AWrongPasswordOrUserIsDeniedAndMarkedForPacing) {
    LogIn("admin", "s3cre");
    Result r = Do("MASTER ups");
    EXPECT_EQ(r.reply, "ERR ACCESS-DENIED\n");
    EXPECT_TRUE(r.deniedAuth);
    EXPECT_FALSE(session.primary);

    session = {};
    LogIn("root", "s3cret");
    EXPECT_EQ(Ask("PRIMARY ups"), "ERR ACCESS-DENIED\n");

    session = {};
    EXPECT_EQ(Ask("PRIMARY ups"), "ERR USERNAME-REQUIRED\n");
    ASSERT_EQ(Ask("USERNAME admin"), "OK\n");
    EXPECT_EQ(Ask("PRIMARY ups"), "ERR PASSWORD-REQUIRED\n");
    // A password that begins like the right one, or is longer, is as wrong.
    ASSERT_EQ(Ask("PASSWORD s3cret1"), "OK\n");
    EXPECT_EQ(Ask("PRIMARY ups"), "ERR ACCESS-DENIED\n");
}

TEST_F(NutProtocolTest, WithoutAConfiguredPasswordNobodyIsPrimary) {
    access.password.clear();
    LogIn("admin", "anything");
    EXPECT_EQ(Ask("PRIMARY ups"), "ERR ACCESS-DENIED\n");
    EXPECT_EQ(Ask("FSD ups"), "ERR ACCESS-DENIED\n");
}

TEST_F(NutProtocolTest, PasswordsWithBlanksAndQuotesAreTakenWhole) {
    access.password = "a \"b\\";
    ASSERT_EQ(Ask("USERNAME admin"), "OK\n");
    ASSERT_EQ(Ask("PASSWORD \"a \\\"b\\\\\""), "OK\n");
    EXPECT_EQ(Ask("PRIMARY ups"), "OK PRIMARY-GRANTED\n");
}

TEST_F(NutProtocolTest, FsdOnlyAfterThePrimaryPartIsGranted) {
    // The right password is not enough without PRIMARY.
    LogIn("admin", "s3cret");
    ASSERT_EQ(Ask("LOGIN ups"), "OK\n");
    Result r = Do("FSD ups");
    EXPECT_EQ(r.reply, "ERR ACCESS-DENIED\n");
    EXPECT_FALSE(r.fsd);
    EXPECT_TRUE(r.deniedAuth);

    ASSERT_EQ(Ask("PRIMARY ups"), "OK PRIMARY-GRANTED\n");
    EXPECT_EQ(Ask("FSD other"), "ERR UNKNOWN-UPS\n");
    EXPECT_EQ(Ask("FSD"), "ERR INVALID-ARGUMENT\n");
    r = Do("FSD ups");
    EXPECT_EQ(r.reply, "OK FSD-SET\n");
    EXPECT_TRUE(r.fsd);
}

TEST_F(NutProtocolTest, ARefusedPrimaryLeavesFsdRefused) {
    LogIn("admin", "guess");
    ASSERT_EQ(Ask("PRIMARY ups"), "ERR ACCESS-DENIED\n");
    const Result r = Do("FSD ups");
    EXPECT_EQ(r.reply, "ERR ACCESS-DENIED\n");
    EXPECT_FALSE(r.fsd);
}

TEST(NutScaledTest, ScaledIntegersBecomeDecimals) {
    EXPECT_EQ(Scaled(2304, 10, 1), "230.4");
    EXPECT_EQ(Scaled(2730, 100, 2), "27.30");
    EXPECT_EQ(Scaled(5, 100, 2), "0.05");
    EXPECT_EQ(Scaled(100, 1, 0), "100");
    EXPECT_EQ(Scaled(-55, 10, 1), "-5.5");
    EXPECT_EQ(Scaled(-5, 10, 1), "-0.5");
    EXPECT_EQ(Scaled(0, 10, 1), "0.0");
    EXPECT_EQ(Scaled(INT_MIN, 10, 1), "-214748364.8");
    EXPECT_EQ(Scaled(LLONG_MIN, 1, 0), "-9223372036854775808");
}

}  // namespace
}  // namespace torvane::nut
