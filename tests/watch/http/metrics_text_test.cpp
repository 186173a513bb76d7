#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "watch/http/metrics_server.h"

namespace torvane::watch {
namespace {

// The page read back as strictly as the text format allows: every family announced by one
// # HELP and one # TYPE before its samples, every sample of the family last announced, label
// values unescaped, every value a number. A sample is keyed `name{label="value",...}` with its
// labels as sent.
struct Exposition {
    std::map<std::string, std::string> types;  // family -> type
    std::map<std::string, std::string> help;
    std::vector<std::string> families;  // in order
    std::map<std::string, double> samples;
    std::map<std::string, std::vector<std::map<std::string, std::string>>> labels;  // by name
};

std::string Unescape(const std::string& line, std::size_t& at) {
    std::string out;
    while (at < line.size() && line[at] != '"') {
        char c = line[at++];
        if (c == '\\') {
            if (at >= line.size()) throw std::runtime_error("a lone backslash");
            const char e = line[at++];
            if (e == 'n') {
                out += '\n';
            } else if (e == '\\' || e == '"') {
                out += e;
            } else {
                throw std::runtime_error(std::string("an unknown escape \\") + e);
            }
        } else {
            out += c;
        }
    }
    if (at >= line.size()) throw std::runtime_error("an unterminated label value");
    ++at;  // the closing quote
    return out;
}

bool IsName(const std::string& name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != ':') return false;
    return true;
}

Exposition Parse(const std::string& text) {
    Exposition e;
    if (text.empty() || text.back() != '\n') throw std::runtime_error("no final line feed");
    std::istringstream in(text);
    std::string line;
    std::string current;  // the family last announced by # TYPE
    while (std::getline(in, line)) {
        if (line.empty()) throw std::runtime_error("an empty line");
        if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
            const std::string rest = line.substr(7);
            const auto space = rest.find(' ');
            if (space == std::string::npos) throw std::runtime_error("bad comment: " + line);
            const std::string name = rest.substr(0, space);
            if (!IsName(name)) throw std::runtime_error("bad name: " + name);
            if (line[2] == 'H') {
                if (e.help.count(name)) throw std::runtime_error("second HELP for " + name);
                if (e.types.count(name)) throw std::runtime_error("HELP after TYPE: " + name);
                e.help[name] = rest.substr(space + 1);
            } else {
                if (e.types.count(name)) throw std::runtime_error("second TYPE for " + name);
                if (!e.help.count(name)) throw std::runtime_error("TYPE without HELP: " + name);
                const std::string type = rest.substr(space + 1);
                if (type != "gauge" && type != "counter")
                    throw std::runtime_error("unexpected type " + type);
                e.types[name] = type;
                e.families.push_back(name);
                current = name;
            }
            continue;
        }
        if (line[0] == '#') throw std::runtime_error("a stray comment: " + line);
        std::size_t at = 0;
        while (at < line.size() && line[at] != '{' && line[at] != ' ') ++at;
        const std::string name = line.substr(0, at);
        if (name != current) throw std::runtime_error("sample outside its family: " + line);
        std::map<std::string, std::string> labels;
        std::string key = name;
        if (at < line.size() && line[at] == '{') {
            const std::size_t open = at++;
            while (line.at(at) != '}') {
                const auto eq = line.find('=', at);
                const std::string label = line.substr(at, eq - at);
                if (!IsName(label) || line.at(eq + 1) != '"')
                    throw std::runtime_error("bad label in " + line);
                at = eq + 2;
                const std::string value = Unescape(line, at);
                if (labels.count(label)) throw std::runtime_error("a label twice: " + line);
                labels[label] = value;
                if (line.at(at) == ',') ++at;
            }
            key += line.substr(open, at + 1 - open);
            ++at;
        }
        if (at >= line.size() || line[at] != ' ') throw std::runtime_error("no value: " + line);
        const std::string value = line.substr(at + 1);
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0') throw std::runtime_error("not a number: " + line);
        if (e.samples.count(key)) throw std::runtime_error("a sample twice: " + key);
        e.samples[key] = v;
        e.labels[name].push_back(labels);
    }
    return e;
}

UpsSnapshot Answering() {
    UpsSnapshot s;
    s.connected = true;
    s.status.rawLine = "(230.4 140.0 229.8 013 50.1 13.67 -5.5 00001001";
    s.status.inputVoltage = 2304;
    s.status.outputVoltage = 2298;
    s.status.inputFrequency = 501;
    s.status.batteryVoltage = 1367;
    s.status.temperature = -55;
    s.status.load = 135;
    s.status.batteryCapacity = 87;
    s.basic.company = "ACME Power     ";
    s.basic.model = "KV-1500   ";
    s.basic.version = "  2.3.1   ";
    s.startedAt = 1'700'000'000;
    return s;
}

const std::set<std::string> kValueGauges = {
    "kelvora_ups_input_voltage_volts",    "kelvora_ups_output_voltage_volts",
    "kelvora_ups_input_frequency_hertz",  "kelvora_ups_battery_voltage_volts",
    "kelvora_ups_battery_charge_percent", "kelvora_ups_load_percent",
    "kelvora_ups_temperature_celsius"};

const std::vector<std::string> kFlags = {"OL",   "OB",     "LB",  "CAL", "BOOST",
                                         "TRIM", "BYPASS", "OFF", "FSD"};

double Flag(const Exposition& e, const std::string& flag) {
    return e.samples.at("kelvora_ups_status{flag=\"" + flag + "\"}");
}

TEST(MetricsText, EveryFamilyIsAnnouncedAndTheValuesAreInTheirUnits) {
    const auto e = Parse(MetricsText(Answering(), 1'700'000'100));
    const std::set<std::string> families(e.families.begin(), e.families.end());
    for (const auto& name : kValueGauges) EXPECT_TRUE(families.count(name)) << name;
    for (const char* name :
         {"kelvora_ups_connected", "kelvora_ups_status", "kelvora_ups_shutdown_countdown_seconds",
          "kelvora_ups_info", "kelvora_events_total", "kelvora_agent_start_time_seconds",
          "kelvora_agent_uptime_seconds"})
        EXPECT_TRUE(families.count(name)) << name;
    EXPECT_EQ(e.types.at("kelvora_events_total"), "counter");
    EXPECT_EQ(e.types.at("kelvora_ups_input_voltage_volts"), "gauge");
    EXPECT_EQ(e.samples.at("kelvora_ups_connected"), 1);
    EXPECT_DOUBLE_EQ(e.samples.at("kelvora_ups_input_voltage_volts"), 230.4);
    EXPECT_DOUBLE_EQ(e.samples.at("kelvora_ups_output_voltage_volts"), 229.8);
    EXPECT_DOUBLE_EQ(e.samples.at("kelvora_ups_input_frequency_hertz"), 50.1);
    EXPECT_DOUBLE_EQ(e.samples.at("kelvora_ups_battery_voltage_volts"), 13.67);
    EXPECT_DOUBLE_EQ(e.samples.at("kelvora_ups_battery_charge_percent"), 87);
    EXPECT_DOUBLE_EQ(e.samples.at("kelvora_ups_load_percent"), 13.5);
    EXPECT_DOUBLE_EQ(e.samples.at("kelvora_ups_temperature_celsius"), -5.5);
    EXPECT_EQ(e.samples.at("kelvora_agent_start_time_seconds"), 1'700'000'000);
    EXPECT_EQ(e.samples.at("kelvora_agent_uptime_seconds"), 100);
    EXPECT_EQ(e.samples.at("kelvora_ups_shutdown_countdown_seconds"), 0);
}

TEST(MetricsText, ValuesAreWrittenExactlyWithoutFloatRounding) {
    auto s = Answering();
    s.status.inputVoltage = 2301;
    s.status.batteryVoltage = 5;
    s.status.temperature = -3;
    s.status.load = 0;
    const auto text = MetricsText(s, 0);
    EXPECT_NE(text.find("\nkelvora_ups_input_voltage_volts 230.1\n"), std::string::npos);
    EXPECT_NE(text.find("\nkelvora_ups_battery_voltage_volts 0.05\n"), std::string::npos);
    EXPECT_NE(text.find("\nkelvora_ups_temperature_celsius -0.3\n"), std::string::npos);
    EXPECT_NE(text.find("\nkelvora_ups_load_percent 0.0\n"), std::string::npos);
}

TEST(MetricsText, TheValuesAreLeftOutWhileTheUpsIsSilentOrBeforeItsFirstStatus) {
    auto silent = Answering();
    silent.connected = false;
    auto early = Answering();
    early.status.rawLine.clear();
    for (const auto& s : {silent, early}) {
        const auto e = Parse(MetricsText(s, 0));
        for (const auto& name : kValueGauges) {
            EXPECT_FALSE(e.types.count(name)) << name;
            EXPECT_FALSE(e.samples.count(name)) << name;
        }
        // What the agent knows of itself stays.
        EXPECT_TRUE(e.samples.count("kelvora_agent_uptime_seconds"));
        EXPECT_EQ(e.labels.at("kelvora_ups_status").size(), kFlags.size());
    }
    EXPECT_EQ(Parse(MetricsText(silent, 0)).samples.at("kelvora_ups_connected"), 0);
    EXPECT_EQ(Parse(MetricsText(early, 0)).samples.at("kelvora_ups_connected"), 1);
}

TEST(MetricsText, EveryStatusFlagIsAlwaysThereAndFollowsTheStatusWords) {
    auto s = Answering();
    auto e = Parse(MetricsText(s, 0));
    for (const auto& flag : kFlags) EXPECT_EQ(Flag(e, flag), flag == "OL" ? 1 : 0) << flag;

    s.acFail = s.batteryLow = s.forcedShutdown = s.boost = true;
    e = Parse(MetricsText(s, 0));
    for (const auto& flag : kFlags) {
        const bool on = flag == "OB" || flag == "LB" || flag == "FSD" || flag == "BOOST";
        EXPECT_EQ(Flag(e, flag), on ? 1 : 0) << flag;
    }
    s = Answering();
    s.selfTest = s.buck = s.bypass = s.upsOff = true;
    e = Parse(MetricsText(s, 0));
    for (const auto& flag : {"OL", "CAL", "TRIM", "BYPASS", "OFF"}) EXPECT_EQ(Flag(e, flag), 1);
    EXPECT_EQ(Flag(e, "OB"), 0);

    // A silent UPS has no status words: neither OL nor OB, but FSD when the agent shuts down.
    s.connected = false;
    e = Parse(MetricsText(s, 0));
    for (const auto& flag : kFlags) EXPECT_EQ(Flag(e, flag), 0) << flag;
    s.forcedShutdown = true;
    e = Parse(MetricsText(s, 0));
    for (const auto& flag : kFlags) EXPECT_EQ(Flag(e, flag), flag == "FSD" ? 1 : 0) << flag;
}

TEST(MetricsText, TheIdentificationIsTrimmedAndEscaped) {
    auto s = Answering();
    auto e = Parse(MetricsText(s, 0));
    ASSERT_EQ(e.labels.at("kelvora_ups_info").size(), 1u);
    auto info = e.labels.at("kelvora_ups_info")[0];
    EXPECT_EQ(info.at("manufacturer"), "ACME Power");
    EXPECT_EQ(info.at("model"), "KV-1500");
    EXPECT_EQ(info.at("firmware"), "2.3.1");
    EXPECT_EQ(e.samples.at("kelvora_ups_info{manufacturer=\"ACME Power\",model=\"KV-1500\","
                           "firmware=\"2.3.1\"}"),
              1);

    s.basic.company = "A\\B \"Q\"\nC  ";
    s.basic.model = std::string("X\x01Y\xff", 4);
    s.basic.version = "\xc3\xa9t\xc3\xa9";  // UTF-8 stays as it is
    const auto text = MetricsText(s, 0);
    EXPECT_NE(text.find(R"(manufacturer="A\\B \"Q\"\nC")"), std::string::npos) << text;
    e = Parse(text);
    info = e.labels.at("kelvora_ups_info")[0];
    EXPECT_EQ(info.at("manufacturer"), "A\\B \"Q\"\nC");
    EXPECT_EQ(info.at("model"), "X\xEF\xBF\xBDY\xEF\xBF\xBD");
    EXPECT_EQ(info.at("firmware"), "\xc3\xa9t\xc3\xa9");
}

TEST(MetricsText, NoIdentificationBeforeTheUpsSentOne) {
    UpsSnapshot s;
    s.connected = true;
    const auto e = Parse(MetricsText(s, 0));
    EXPECT_FALSE(e.types.count("kelvora_ups_info"));
}

TEST(MetricsText, EveryEventKindIsCounted) {
    auto s = Answering();
    for (std::size_t k = 0; k < kEventKinds; ++k) s.events[k] = 10 * k + 1;
    s.countdownSeconds = 42;
    const auto e = Parse(MetricsText(s, 0));
    EXPECT_EQ(e.labels.at("kelvora_events_total").size(), kEventKinds);
    for (std::size_t k = 0; k < kEventKinds; ++k) {
        const std::string name(EventName(static_cast<EventKind>(k)));
        EXPECT_EQ(e.samples.at("kelvora_events_total{event=\"" + name + "\"}"), 10.0 * k + 1)
            << name;
    }
    EXPECT_EQ(e.samples.at("kelvora_events_total{event=\"utility_failure\"}"), 1);
    EXPECT_EQ(e.samples.at("kelvora_ups_shutdown_countdown_seconds"), 42);
}

TEST(MetricsText, UptimeIsNeverNegative) {
    auto s = Answering();
    EXPECT_EQ(Parse(MetricsText(s, s.startedAt - 50)).samples.at("kelvora_agent_uptime_seconds"),
              0);
    s.startedAt = 0;
    EXPECT_EQ(Parse(MetricsText(s, 1000)).samples.at("kelvora_agent_uptime_seconds"), 0);
}

// The reader above must itself refuse what a scraper would.
TEST(MetricsText, TheStrictReaderRefusesBrokenPages) {
    EXPECT_THROW(Parse("x 1\n"), std::runtime_error);  // no family
    EXPECT_THROW(Parse("# HELP x h\n# TYPE x gauge\nx{a=\"b} 1\n"), std::exception);
    EXPECT_THROW(Parse("# HELP x h\n# TYPE x gauge\nx{a=\"\\t\"} 1\n"), std::runtime_error);
    EXPECT_THROW(Parse("# HELP x h\n# TYPE x gauge\nx one\n"), std::runtime_error);
    EXPECT_THROW(Parse("# HELP x h\n# TYPE x gauge\nx 1"), std::runtime_error);
    EXPECT_NO_THROW(Parse("# HELP x h\n# TYPE x gauge\nx{a=\"\\\"\"} 1\n"));
}

}  // namespace
}  // namespace torvane::watch
