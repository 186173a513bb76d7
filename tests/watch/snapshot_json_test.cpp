// The snapshot's NUT status words and its JSON: what NUT clients, Prometheus and scripts read.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "watch/status_json.h"
#include "watch/ups_snapshot.h"

namespace torvane::watch {
namespace {

UpsSnapshot Online() {
    UpsSnapshot s;
    s.connected = true;
    s.status.rawLine = "(230.4 230.4 229.8 012 50.0 27.30 35.0 00001000";
    s.status.inputVoltage = 2304;
    s.status.outputVoltage = 2298;
    s.status.load = 125;
    s.status.inputFrequency = 500;
    s.status.batteryVoltage = 2730;
    s.status.temperature = 350;
    s.status.batteryCapacity = 100;
    s.basic.company = "Stavlen";
    s.basic.model = "S-1000";
    s.basic.version = "1.02";
    s.startedAt = 1000;
    s.updatedAt = 1060;
    return s;
}

TEST(StatusWords, FollowTheAlarmsInTheOrderNutClientsExpect) {
    UpsSnapshot s = Online();
    EXPECT_EQ(StatusWords(s), "OL");
    s.acFail = true;
    EXPECT_EQ(StatusWords(s), "OB");
    s.batteryLow = true;
    EXPECT_EQ(StatusWords(s), "OB LB");
    s.forcedShutdown = true;
    EXPECT_EQ(StatusWords(s), "FSD OB LB");
    s = Online();
    s.selfTest = s.boost = s.buck = s.bypass = s.upsOff = true;
    EXPECT_EQ(StatusWords(s), "OL CAL BOOST TRIM BYPASS OFF");
}

TEST(StatusWords, SilentUpsSaysNothingUnlessTheMachinesMustGoDown) {
    UpsSnapshot s = Online();
    s.connected = false;
    s.acFail = true;
    EXPECT_EQ(StatusWords(s), "");
    // A shutdown after the link was lost must still reach the machines that share the UPS.
    s.forcedShutdown = true;
    EXPECT_EQ(StatusWords(s), "FSD");
}

TEST(JsonString, EscapesWhatJsonMustAndReplacesWhatIsNotUtf8) {
    EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(JsonString(std::string("\n\x01\x7f", 3)), R"("\u000a\u0001\u007f")");
    EXPECT_EQ(JsonString("\xc3\xa9t\xe9"), "\"\xc3\xa9t\\ufffd\"");
    // An overlong form, a surrogate and a cut sequence are not UTF-8 either.
    EXPECT_EQ(JsonString("\xc0\xaf"), R"("\ufffd\ufffd")");
    EXPECT_EQ(JsonString("\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd")");
    EXPECT_EQ(JsonString("\xe2\x82"), R"("\ufffd\ufffd")");
    EXPECT_EQ(JsonString("\xf0\x9f\x94\x8b"), "\"\xf0\x9f\x94\x8b\"");
}

TEST(StatusJson, GivesValuesInTheirUnits) {
    UpsSnapshot s = Online();
    s.acFail = true;
    s.countdownSeconds = 42;
    s.events[static_cast<std::size_t>(EventKind::kUtilityFailure)] = 2;
    auto j = nlohmann::json::parse(StatusJson(s, 1100));
    EXPECT_EQ(j["connected"], true);
    EXPECT_EQ(j["status"], "OB");
    EXPECT_EQ(j["on_battery"], true);
    EXPECT_DOUBLE_EQ(j["input_voltage_volts"].get<double>(), 230.4);
    EXPECT_DOUBLE_EQ(j["output_voltage_volts"].get<double>(), 229.8);
    EXPECT_DOUBLE_EQ(j["battery_voltage_volts"].get<double>(), 27.30);
    EXPECT_DOUBLE_EQ(j["load_percent"].get<double>(), 12.5);
    EXPECT_DOUBLE_EQ(j["input_frequency_hertz"].get<double>(), 50.0);
    EXPECT_DOUBLE_EQ(j["temperature_celsius"].get<double>(), 35.0);
    EXPECT_EQ(j["battery_charge_percent"], 100);
    EXPECT_EQ(j["countdown_seconds"], 42);
    EXPECT_EQ(j["model"], "S-1000");
    EXPECT_EQ(j["agent_uptime_seconds"], 100);
    EXPECT_EQ(j["events"]["utility_failure"], 2);
    EXPECT_EQ(j["events"]["test"], 0);
    EXPECT_EQ(j["events"].size(), kEventKinds);
}

TEST(StatusJson, KnowsNoValuesOfASilentUps) {
    UpsSnapshot s = Online();
    s.connected = false;
    s.basic.model = std::string("M\"o\x01\xff", 5);
    auto j = nlohmann::json::parse(StatusJson(s, 0));
    EXPECT_EQ(j["connected"], false);
    EXPECT_TRUE(j["input_voltage_volts"].is_null());
    EXPECT_TRUE(j["battery_charge_percent"].is_null());
    EXPECT_EQ(j["model"], "M\"o\x01\xef\xbf\xbd");
    EXPECT_EQ(j["agent_uptime_seconds"], 0);
}

TEST(EventName, NamesEveryKindApart) {
    std::set<std::string_view> names;
    for (std::size_t k = 0; k < kEventKinds; ++k)
        names.insert(EventName(static_cast<EventKind>(k)));
    EXPECT_EQ(names.size(), kEventKinds);
    EXPECT_FALSE(names.contains("unknown"));
}

}  // namespace
}  // namespace torvane::watch
