#include "show.h"

#include <cstdio>

#include "common.h"
#include "ups_lib/config_fields.h"
#include "ups_lib/event_texts.h"

namespace upsrec {

using ups::ConfigField;
using ups::ConfigFields;
using ups::ConfigValueNote;
using ups::FindConfigField;

using json = nlohmann::ordered_json;

namespace {

// Tenths as "226.0", hundredths as "27.50"; negative values keep their sign.
std::string Scaled(std::int64_t v, int decimals) {
    const std::int64_t div = decimals == 1 ? 10 : 100;
    const std::int64_t a = v < 0 ? -v : v;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%lld.%0*lld", v < 0 ? "-" : "",
                  static_cast<long long>(a / div), decimals, static_cast<long long>(a % div));
    return buf;
}

// Control characters (the raw replies end in a carriage return) are shown escaped, so that a
// record cannot play tricks with the terminal.
std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string TestLengthText(std::int32_t n) {
    if (n < 0) return "until battery low";
    if (n == 0) return "10 seconds";
    return std::to_string(n) + " min";
}

}  // namespace

std::string Dump(const json& j) {
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string_view ScheduleEventName(std::uint16_t event) {
    switch (event) {
        case ups::kSwitchOn:
            return "switch UPS on";
        case ups::kShutdown:
            return "shut down system and UPS";
        case ups::kSelfTest:
            return "self-test";
        default:
            return "unknown event";
    }
}

std::string_view FrequencyName(std::uint16_t frequency) {
    switch (frequency) {
        case ups::kOnce:
            return "once";
        case ups::kDaily:
            return "daily";
        case ups::kWeekly:
            return "weekly";
        case ups::kMonthly:
            return "monthly";
        case ups::kEverySecondMonth:
            return "every second month";
        default:
            return "unknown frequency";
    }
}

std::string_view NotifyKindName(int kind) {
    static constexpr std::string_view kNames[] = {"utility power failed",
                                                  "battery low",
                                                  "utility power restored",
                                                  "battery low cleared",
                                                  "scheduled shutdown coming",
                                                  "scheduled shutdown cancelled",
                                                  "UPS failure"};
    return kind >= 0 && kind < ups::kNotifyKinds ? kNames[kind] : "unknown";
}

// ---- JSON ----

json ConfigJson(const ups::CConfig& c) {
    json j = json::object();
    for (const auto& f : ConfigFields()) {
        std::visit([&](auto member) { j[std::string(f.name)] = c.*member; }, f.member);
    }
    return j;
}

json MsgTabJson(const ups::CMsgTab& m) {
    json kinds = json::array();
    for (int k = 0; k < ups::kNotifyKinds; ++k) {
        const auto i = static_cast<std::size_t>(k);
        kinds.push_back({{"kind", k},
                         {"event", NotifyKindName(k)},
                         {"text", m.text[i]},
                         {"address", m.address[i]},
                         {"number", m.number[i]},
                         {"code", m.code[i]}});
    }
    return {{"kinds", kinds}};
}

json ScheduleJson(const std::vector<ups::CScheduleDetail>& entries) {
    json list = json::array();
    for (const auto& e : entries) {
        list.push_back({{"event", e.event},
                        {"frequency", e.frequency},
                        {"testLength", e.testLength},
                        {"time", e.time},
                        {"localTime", LocalTimeText(e.time)}});
    }
    return {{"entries", list}};
}

json EventLogJson(const std::vector<ups::CEventLogRecord>& records) {
    json list = json::array();
    for (const auto& r : records) {
        list.push_back({{"eventId", r.eventId},
                        {"type", r.type},
                        {"time", r.time},
                        {"localTime", LocalTimeText(r.time)},
                        {"text", ups::EventText(r.eventId)}});
    }
    return {{"count", records.size()}, {"records", list}};
}

json DataLogJson(const std::vector<ups::CDataLogRecord>& records) {
    json list = json::array();
    for (const auto& r : records) {
        list.push_back({{"inputVoltage", r.inputVoltage},
                        {"outputVoltage", r.outputVoltage},
                        {"load", r.load},
                        {"batteryCapacity", r.batteryCapacity},
                        {"temperature", r.temperature},
                        {"inputFrequency", r.inputFrequency},
                        {"time", r.time},
                        {"localTime", LocalTimeText(r.time)}});
    }
    return {{"count", records.size()}, {"records", list}};
}

json CloseInfoJson(const ups::CCloseInfo& info) {
    return {{"applications", info.apps}, {"files", info.files}};
}

json StatusJson(const ups::UPSStatusValues& v) {
    return {{"inputVoltage", v.inputVoltage},
            {"inputFaultVoltage", v.inputFaultVoltage},
            {"outputVoltage", v.outputVoltage},
            {"load", v.load},
            {"inputFrequency", v.inputFrequency},
            {"batteryVoltage", v.batteryVoltage},
            {"temperature", v.temperature},
            {"batteryCapacity", v.batteryCapacity},
            {"status", v.status},
            {"rawLine", v.rawLine}};
}

json BasicInfoJson(const ups::UPSBasicValues& v) {
    return {
        {"company", v.company}, {"model", v.model}, {"version", v.version}, {"rawLine", v.rawLine}};
}

json RatingInfoJson(const ups::UPSRatingValues& v) {
    return {{"voltage", v.voltage},
            {"current", v.current},
            {"batteryVoltage", v.batteryVoltage},
            {"frequency", v.frequency},
            {"rawLine", v.rawLine}};
}

// ---- text ----

std::string ConfigText(const ups::CConfig& c) {
    std::string out;
    for (const auto& f : ConfigFields()) {
        char line[160];
        std::string value;
        std::visit(
            [&](auto member) {
                using T = std::decay_t<decltype(c.*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    value = Quoted(c.*member);
                } else {
                    value = std::to_string(c.*member);
                    const std::string note = ConfigValueNote(f, c.*member);
                    if (!note.empty()) value += " (" + note + ")";
                }
            },
            f.member);
        std::snprintf(line, sizeof line, "%-17s ", std::string(f.name).c_str());
        out += line + value + "\n";
    }
    return out;
}

std::string MsgTabText(const ups::CMsgTab& m) {
    std::string out;
    for (int k = 0; k < ups::kNotifyKinds; ++k) {
        const auto i = static_cast<std::size_t>(k);
        out += "kind " + std::to_string(k) + " (" + std::string(NotifyKindName(k)) + ")\n";
        out += "  text:    " + Quoted(m.text[i]) + "\n";
        out += "  address: " + Quoted(m.address[i]) + "\n";
        out += "  number:  " + Quoted(m.number[i]) + "\n";
        out += "  code:    " + Quoted(m.code[i]) + "\n";
    }
    return out;
}

std::string ScheduleText(const std::vector<ups::CScheduleDetail>& entries, std::int64_t now) {
    if (entries.empty()) return "no scheduled events\n";
    std::string out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        out += std::to_string(i) + ": " + std::string(ScheduleEventName(e.event)) + ", " +
               std::string(FrequencyName(e.frequency)) + ", from " + LocalTimeText(e.time);
        if (e.event == ups::kSelfTest) out += ", test " + TestLengthText(e.testLength);
        const std::int64_t next = ups::NextOccurrence(e.time, e.frequency, now);
        out += next >= now ? ", next " + LocalTimeText(next) : ", past";
        out += "\n";
    }
    return out;
}

std::string EventLogText(const std::vector<ups::CEventLogRecord>& records) {
    std::string out;
    for (const auto& r : records) {
        const auto type = ups::EventTypeName(r.type);
        const auto text = ups::EventText(r.eventId);
        char id[16];
        std::snprintf(id, sizeof id, "0x%02x", r.eventId);
        out += LocalTimeText(r.time) + "  " +
               (type.empty() ? "type " + std::to_string(r.type) : std::string(type)) + "  " + id +
               "  " + (text.empty() ? "(unknown event)" : std::string(text)) + "\n";
    }
    return out;
}

std::string DataLogText(const std::vector<ups::CDataLogRecord>& records) {
    std::string out;
    for (const auto& r : records) {
        out += LocalTimeText(r.time) + "  in " + Scaled(r.inputVoltage, 1) + " V  out " +
               Scaled(r.outputVoltage, 1) + " V  load " + Scaled(r.load, 1) + " %  battery " +
               std::to_string(r.batteryCapacity) + " %  " + Scaled(r.temperature, 1) + " C  " +
               Scaled(r.inputFrequency, 1) + " Hz\n";
    }
    return out;
}

std::string CloseInfoText(const ups::CCloseInfo& info) {
    if (info.IsEmpty()) return "no applications were closed\n";
    std::string out;
    // The names come from a file anyone may have written: escaped, like every other string.
    for (std::size_t i = 0; i < info.apps.size(); ++i) {
        out += Quoted(info.apps[i]) + "\n";
        if (i < info.files.size()) {
            for (const auto& f : info.files[i]) out += "  " + Quoted(f) + "\n";
        }
    }
    return out;
}

std::string StatusText(const ups::UPSStatusValues& v) {
    static constexpr const char* kBits[8] = {"beeper on",    "shutdown active", "self-test",
                                             "standby type", "UPS failed",      "boost/buck/bypass",
                                             "battery low",  "utility fail"};
    std::string bits;
    for (int b = 7; b >= 0; --b) {
        if (v.status & (1u << b)) bits += std::string(bits.empty() ? "" : ", ") + kBits[b];
    }
    char st[8];
    std::snprintf(st, sizeof st, "0x%02x", v.status);
    return "input voltage       " + Scaled(v.inputVoltage, 1) + " V\n" + "input fault voltage " +
           Scaled(v.inputFaultVoltage, 1) + " V\n" + "output voltage      " +
           Scaled(v.outputVoltage, 1) + " V\n" + "load                " + Scaled(v.load, 1) +
           " %\n" + "input frequency     " + Scaled(v.inputFrequency, 1) + " Hz\n" +
           "battery voltage     " + Scaled(v.batteryVoltage, 2) + " V\n" + "temperature         " +
           Scaled(v.temperature, 1) + " C\n" + "battery capacity    " +
           std::to_string(v.batteryCapacity) + " %\n" + "status              " + st +
           (bits.empty() ? "" : " (" + bits + ")") + "\n" + "raw line            " +
           Quoted(v.rawLine) + "\n";
}

std::string BasicInfoText(const ups::UPSBasicValues& v) {
    return "company  " + Quoted(v.company) + "\nmodel    " + Quoted(v.model) + "\nversion  " +
           Quoted(v.version) + "\nraw line " + Quoted(v.rawLine) + "\n";
}

std::string RatingInfoText(const ups::UPSRatingValues& v) {
    return "rated voltage         " + Scaled(v.voltage, 1) + " V\nrated current         " +
           Scaled(v.current, 1) + " A\nrated battery voltage " + Scaled(v.batteryVoltage, 2) +
           " V\nrated frequency       " + Scaled(v.frequency, 1) + " Hz\nraw line              " +
           Quoted(v.rawLine) + "\n";
}

}  // namespace upsrec
