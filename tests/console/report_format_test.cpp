#include <gtest/gtest.h>

#include <string>

#include "report_format.h"
#include "status_report.h"

namespace {

const std::string kStatus = "(230.4 190.0 229.8 023 50.1 13.6 25.0 10000000\r";
const std::string kModel = "#Stavlen         SIM-1000   1.0       ";
const std::string kRating = "#230.0 004 24.00 50.0";

StatusReport Connected() {
    StatusReport r;
    r.source = "serial";
    r.daemon_running = true;
    r.daemon_pid = 4242;
    r.fresh = true;
    r.updated_at = 1796949264;  // 2026-12-11 00:34:24 UTC
    r.age_seconds = 1;
    return r;
}

}  // namespace

TEST(JsonNumber, TakesPlainDecimalsAndWritesThemAsJsonDoes) {
    EXPECT_EQ(JsonNumber("230.4"), "230.4");
    EXPECT_EQ(JsonNumber("023"), "23");
    EXPECT_EQ(JsonNumber("000"), "0");
    EXPECT_EQ(JsonNumber("000.5"), "0.5");
    EXPECT_EQ(JsonNumber(".5"), "0.5");
    EXPECT_EQ(JsonNumber("12."), "12");
    EXPECT_EQ(JsonNumber("-5.0"), "-5.0");
    EXPECT_EQ(JsonNumber("-000"), "0");
    EXPECT_EQ(JsonNumber("-0.0"), "0.0");
    for (const char* bad : {"", ".", "-", "1-2", "1.2.3", " 1", "1e5", "N/A", "0x10", "+1"}) {
        EXPECT_FALSE(JsonNumber(bad)) << bad;
    }
}

TEST(CleanText, KeepsUtf8AndReplacesEverythingElse) {
    EXPECT_EQ(CleanText("SIM-1000"), "SIM-1000");
    EXPECT_EQ(CleanText("Gr\xC3\xBCn \xE2\x82\xAC"), "Gr\xC3\xBCn \xE2\x82\xAC");  // ü, €
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(CleanText("a\xFF"
                        "b"),
              "a" + fffd + "b");
    EXPECT_EQ(CleanText("\xC3"), fffd) << "a sequence cut short";
    EXPECT_EQ(CleanText("\xC0\xAF"), fffd + fffd) << "an overlong slash";
    EXPECT_EQ(CleanText("\xED\xA0\x80"), fffd + fffd + fffd) << "a surrogate";
    EXPECT_EQ(CleanText("a\nb\rc\x1B[2J\x7F"), "a" + fffd + "b" + fffd + "c" + fffd + "[2J" + fffd);
    EXPECT_EQ(CleanText("\xC2\x9B"), fffd + fffd) << "a C1 control introducer";
    EXPECT_EQ(CleanText(std::string("a\0b", 3)), "a" + fffd + "b");
}

TEST(JsonString, EscapesQuotesAndBackslashes) {
    EXPECT_EQ(JsonString(R"(say "hi" \ bye)"), R"("say \"hi\" \\ bye")");
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("\xFF\n"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(StatusReplies, AReadingOnBatteryToTheByte) {
    StatusReport r = Connected();
    ReportFromReplies(r, kStatus, kModel, kRating, 0);
    ASSERT_TRUE(r.connected());
    EXPECT_EQ(ReportJson(r),
              "{\"connected\":true,\"status\":\"OB\",\"on_battery\":true,\"battery_low\":false,"
              "\"self_test\":false,\"boost\":false,\"trim\":false,"
              "\"battery_charge_percent\":100,\"battery_voltage_volts\":13.6,"
              "\"input_voltage_volts\":230.4,\"input_frequency_hertz\":50.1,"
              "\"output_voltage_volts\":229.8,\"load_percent\":23,\"temperature_celsius\":25.0,"
              "\"manufacturer\":\"Stavlen\",\"model\":\"SIM-1000\",\"firmware\":\"1.0\","
              "\"updated_at\":1796949264,\"ups_failed\":false,\"ups_type\":\"online\","
              "\"input_fault_voltage_volts\":190.0,\"rating_voltage_volts\":230.0,"
              "\"rating_current_amperes\":4,\"rating_battery_voltage_volts\":24.00,"
              "\"rating_frequency_hertz\":50.0,\"reading_time\":\"2026-12-11T00:34:24Z\","
              "\"reading_age_seconds\":1,\"daemon_running\":true,\"daemon_pid\":4242,"
              "\"source\":\"serial\"}\n");
    EXPECT_EQ(ReportText(r),
              "connected: true\n"
              "status: OB\n"
              "on_battery: true\n"
              "battery_low: false\n"
              "self_test: false\n"
              "boost: false\n"
              "trim: false\n"
              "battery_charge_percent: 100\n"
              "battery_voltage_volts: 13.6\n"
              "input_voltage_volts: 230.4\n"
              "input_frequency_hertz: 50.1\n"
              "output_voltage_volts: 229.8\n"
              "load_percent: 23\n"
              "temperature_celsius: 25.0\n"
              "manufacturer: Stavlen\n"
              "model: SIM-1000\n"
              "firmware: 1.0\n"
              "updated_at: 1796949264\n"
              "ups_failed: false\n"
              "ups_type: online\n"
              "input_fault_voltage_volts: 190.0\n"
              "rating_voltage_volts: 230.0\n"
              "rating_current_amperes: 4\n"
              "rating_battery_voltage_volts: 24.00\n"
              "rating_frequency_hertz: 50.0\n"
              "reading_time: 2026-12-11T00:34:24Z\n"
              "reading_age_seconds: 1\n"
              "daemon_running: true\n"
              "daemon_pid: 4242\n"
              "source: serial\n");
}

TEST(StatusReplies, EveryStatusWord) {
    StatusReport r = Connected();
    // Battery low, boost/buck with the output above the input, UPS failed, test running.
    ReportFromReplies(r, "(190.0 190.0 220.0 023 50.1 13.6 25.0 01110100", "", "", 0);
    EXPECT_EQ(r.status, "OL LB CAL BOOST ALARM");
    ReportFromReplies(r, "(250.0 190.0 220.0 023 50.1 13.6 25.0 10100000", "", "", 0);
    EXPECT_EQ(r.status, "OB TRIM") << "the output below the input is trimming";
    EXPECT_EQ(r.boost, false);
}

TEST(StatusReplies, AStandbyUpsChargeComesFromTheConfiguredRating) {
    StatusReport r = Connected();
    // Standby bit set, battery 13.3 V on a 12 V battery: 98.75 %, as the status screen shows.
    ReportFromReplies(r, "(230.0 230.0 230.0 021 50.0 13.3 25.0 00001001", "", "", 12.0f);
    EXPECT_EQ(r.ups_type, "standby");
    EXPECT_EQ(r.battery_charge_percent, "99");
    EXPECT_EQ(r.rating_battery_voltage_volts, "12.0");
    EXPECT_EQ(r.manufacturer, std::nullopt);
    // An on-line UPS reports a cell voltage: 2.27 V is full.
    ReportFromReplies(r, "(230.0 230.0 230.0 021 50.0 2.27 25.0 00000001", "", "", 0);
    EXPECT_EQ(r.battery_charge_percent, "100");
}

TEST(StatusReplies, GarbageGivesNoReadingAndNoCrash) {
    for (std::string bad : {std::string(), std::string(49, ' '), std::string(47, '\0'),
                            std::string("(230.4 190.0 229.8 023 50.1 13.6 25.0 1000000"),
                            std::string("(230.4 190.0 229.8 023 50.1 13.6 25.0 10x00000"),
                            std::string(4096, '\xFF')}) {
        StatusReport r = Connected();
        ReportFromReplies(r, bad, std::string(39, '\xFF'), bad, 0);
        EXPECT_FALSE(r.reading);
        EXPECT_FALSE(r.connected());
        EXPECT_EQ(r.status, std::nullopt);
        std::string json = ReportJson(r);
        EXPECT_EQ(json.find('\xFF'), std::string::npos) << "no stray byte reaches the output";
    }
    // A torn write spoils one token; the others stand.
    StatusReport r = Connected();
    ReportFromReplies(r, "(230.4 190.0 22x.8 023 50.1 13.6 25.0 00000000", "", "", 0);
    EXPECT_TRUE(r.reading);
    EXPECT_EQ(r.output_voltage_volts, std::nullopt);
    EXPECT_EQ(r.input_voltage_volts, "230.4");
}

TEST(StatusReplies, AModelOfStrayBytesIsCleanedInBothForms) {
    StatusReport r = Connected();
    std::string model =
        "#St\xFF"
        "avlen\"\\\n     SIM\x1B[1m   1.0       ";
    ReportFromReplies(r, kStatus, model, "", 0);
    ASSERT_TRUE(r.manufacturer);
    std::string json = ReportJson(r);
    EXPECT_NE(json.find("\"manufacturer\":\"St\xEF\xBF\xBD"
                        "avlen\\\"\\\\\xEF\xBF\xBD\""),
              std::string::npos)
        << json;
    std::string text = ReportText(r);
    EXPECT_NE(text.find("\nmanufacturer: St\xEF\xBF\xBD"
                        "avlen\"\\\xEF\xBF\xBD\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nmodel: SIM\xEF\xBF\xBD[1m\n"), std::string::npos) << text;
}

TEST(StatusReplies, ForgettingKeepsOnlyWhereAndWhen) {
    StatusReport r = Connected();
    ReportFromReplies(r, kStatus, kModel, kRating, 0);
    r.daemon_running = false;
    ForgetUps(r);
    std::string json = ReportJson(r);
    EXPECT_TRUE(json.starts_with("{\"connected\":false,\"status\":null,\"on_battery\":null,"));
    EXPECT_NE(json.find("\"model\":null"), std::string::npos);
    EXPECT_NE(json.find("\"updated_at\":1796949264"), std::string::npos);
    EXPECT_NE(json.find("\"daemon_pid\":4242"), std::string::npos);
}

TEST(StatusReport, UnknownWhereAndWhen) {
    StatusReport r;
    std::string text = ReportText(r);
    EXPECT_NE(text.find("\nupdated_at: N/A\nups_failed: N/A\n"), std::string::npos);
    EXPECT_NE(text.find("\ndaemon_running: false\ndaemon_pid: N/A\nsource: N/A\n"),
              std::string::npos);
    EXPECT_NE(ReportJson(r).find("\"reading_time\":null"), std::string::npos);
}
