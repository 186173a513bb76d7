#include "agent_commands.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <utility>

#include "agent_client.h"
#include "common.h"
#include "edit.h"
#include "input.h"
#include "show.h"
#include "ups_lib/close_info.h"
#include "ups_lib/config.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"

namespace upsrec {

namespace lk = ups::link;
using json = nlohmann::ordered_json;

namespace {

constexpr std::chrono::milliseconds kDefaultTimeout{10000};

struct AgentOptions {
    AgentAddress address;
    std::string password;
    bool asJson = false;
    std::chrono::milliseconds timeout = kDefaultTimeout;
    std::vector<std::string> words;  // the command and its arguments
};

AgentOptions ParseOptions(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[1].empty() || args[1][0] == '-')
        throw Failure("--agent needs HOST[:PORT]");
    AgentOptions o;
    o.address = ParseAgentAddress(args[1], DefaultAgentPort());
    bool password = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--password" || a == "--timeout") {
            if (i + 1 >= args.size()) throw Failure(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--password") {
                if (password) throw Failure("--password given twice");
                password = true;
                o.password = v;
            } else {
                o.timeout = std::chrono::milliseconds(ParseInteger(v, 1, 3600, "--timeout") * 1000);
            }
        } else if (a == "--json" && (o.words.empty() || o.words[0] == "show")) {
            // After "set", --json names a FILE; elsewhere it asks for JSON output.
            o.asJson = true;
        } else {
            o.words.push_back(a);
        }
    }
    if (o.words.empty()) throw Failure("--agent: missing command");
    return o;
}

// One session with the agent: the password, then whatever the command needs.
class Session {
  public:
    explicit Session(const AgentOptions& o) : client_(o.address, o.timeout) {
        // An empty password is sent as such: an agent without one accepts it.
        client_.Send(lk::EncodeText(lk::kPassword, o.password));
        // Wait for the first answer before sending more: a refused client is dropped, and what
        // we would send meanwhile could reset the connection before "wrong password" is read.
        Take(client_.Receive(Deadline(), "the answer to the password"));
    }

    // Skips the agent's other messages (taking their news into the state) until `code`.
    lk::Message WaitFor(std::int32_t code, const std::string& what) {
        const auto deadline = Deadline();
        for (;;) {
            lk::Message m = client_.Receive(deadline, what);
            Take(m);
            if (m.code == code) return m;
        }
    }

    lk::Message Request(std::int32_t request, std::int32_t reply, const std::string& what) {
        client_.Send(lk::Encode(request));
        return WaitFor(reply, what);
    }

    void Send(const std::vector<std::uint8_t>& message) { client_.Send(message); }

    // Sends a changed record and reads it back: the agent says nothing when it refuses a change
    // (from a client that may not change, or with a value out of range), so only the record as
    // it now stands tells. `before` is the message of the record as it was read.
    void Change(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& message,
                std::int32_t request, const std::string& what) {
        client_.Send(message);
        std::int32_t code = 0;
        for (int i = 3; i >= 0; --i) code = code << 8 | message[static_cast<std::size_t>(i)];
        lk::Message back;
        try {
            back = Request(request, code, what);
        } catch (const Failure& e) {
            throw Failure(std::string("the agent did not take the change (") + e.what() +
                          "); it takes changes only with its password, or from root or its own "
                          "user on its machine");
        }
        const auto now = back.record ? lk::EncodeRecord(code, *back.record) : decltype(before){};
        if (now == before && now != message)
            throw Failure(
                "the agent did not take the change; it takes changes only with its "
                "password, or from root or its own user on its machine, and only "
                "values each field accepts");
        if (now != message)
            throw Failure("the agent holds " + what + " other than sent: it did not take it whole");
    }
    void End() { client_.Close(); }
    const AgentState& State() const { return state_; }

  private:
    AgentClient::Clock::time_point Deadline() const {
        return AgentClient::Clock::now() + client_.Timeout();
    }
    void Take(const lk::Message& m) {
        if (m.code == lk::kWrongPassword) throw Failure("wrong password");
        ApplyToState(state_, m);
    }

    AgentClient client_;
    AgentState state_;
};

template <typename Record>
Record& Expect(const lk::Message& m) {
    auto* r = m.As<Record>();
    // Decode makes the payload's class for the code, so this cannot fail for a whole message.
    if (r == nullptr) throw Failure("the agent's reply carries no record");
    return *r;
}

json ReadJsonDocument(const std::string& file) {
    const auto bytes = ReadInput(file, kJsonInput);
    try {
        return json::parse(bytes.begin(), bytes.end());
    } catch (const json::parse_error& e) {
        throw Failure((file == "-" ? std::string("standard input") : file) + ": not valid JSON (" +
                      e.what() + ")");
    }
}

// A record the agent could not take whole is not sent: it would drop the connection on it.
void RequireFitsTheLink(ups::Serializable& record, std::string_view kind) {
    const auto size = ups::ToBytes(record).size() + 4;
    if (size > lk::kMaxToAgent) {
        throw Failure(std::string(kind) + ": the record would take " + std::to_string(size) +
                      " bytes, more than the " + std::to_string(lk::kMaxToAgent) +
                      " bytes the agent takes in one message; not changed");
    }
}

void Show(const AgentOptions& o, std::string& out) {
    if (o.words.size() != 2) throw Failure("show needs one KIND and nothing more");
    const std::string& kind = o.words[1];
    const bool j = o.asJson;
    std::string text;
    auto emit = [&](const json& doc, const std::string& t) { text = j ? Dump(doc) : t; };
    const auto kinds = {"status",   "basicinfo", "ratinginfo", "config",   "msgtab",
                        "schedule", "eventlog",  "datalog",    "closeinfo"};
    if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end())
        throw Failure("--agent show: unknown KIND \"" + kind +
                      "\" (status, basicinfo, ratinginfo, config, msgtab, schedule, eventlog, "
                      "datalog, closeinfo)");
    Session s(o);
    if (kind == "status" && s.State().connected == false) {
        // The first answer said so: no status comes while the agent has no UPS.
        json doc = StateJson(s.State());
        doc["status"] = nullptr;
        emit(doc, StateText(s.State()) + "no status: the agent is not connected to the UPS\n");
    } else if (kind == "status") {
        const auto m = s.WaitFor(lk::kStatus, "the UPS status");
        const auto v = Expect<ups::CUPSStatus>(m).Get();
        json doc = StateJson(s.State());
        doc["status"] = StatusJson(v);
        emit(doc, StateText(s.State()) + StatusText(v));
    } else if (kind == "basicinfo") {
        const auto v =
            Expect<ups::CUPSBasicInfo>(s.WaitFor(lk::kBasicInfo, "the UPS's identity")).Get();
        emit(BasicInfoJson(v), BasicInfoText(v));
    } else if (kind == "ratinginfo") {
        const auto v =
            Expect<ups::CUPSRatingInfo>(s.WaitFor(lk::kRatingInfo, "the UPS's rating")).Get();
        emit(RatingInfoJson(v), RatingInfoText(v));
    } else if (kind == "config") {
        const auto m = s.Request(lk::kGetConfig, lk::kConfig, "the configuration");
        const auto& c = Expect<ups::CConfig>(m);
        emit(ConfigJson(c), ConfigText(c));
    } else if (kind == "msgtab") {
        const auto m = s.Request(lk::kGetMsgTab, lk::kMsgTab, "the notification texts");
        const auto& t = Expect<ups::CMsgTab>(m);
        emit(MsgTabJson(t), MsgTabText(t));
    } else if (kind == "schedule") {
        const auto m = s.Request(lk::kGetSchedule, lk::kSchedule, "the schedule");
        const auto entries = Expect<ups::CSchedule>(m).Entries();
        emit(ScheduleJson(entries),
             ScheduleText(entries, static_cast<std::int64_t>(std::time(nullptr))));
    } else if (kind == "eventlog") {
        const auto m = s.Request(lk::kGetEventLog, lk::kEventLog, "the event log");
        const auto& r = Expect<lk::EventLogRecords>(m).records;
        emit(EventLogJson(r), EventLogText(r));
    } else if (kind == "datalog") {
        const auto m = s.Request(lk::kGetDataLog, lk::kDataLog, "the data log");
        const auto& r = Expect<lk::DataLogRecords>(m).records;
        emit(DataLogJson(r), DataLogText(r));
    } else {
        const auto m = s.Request(lk::kCloseInfo, lk::kCloseInfo, "the close report");
        const auto& c = Expect<ups::CCloseInfo>(m);
        emit(CloseInfoJson(c), CloseInfoText(c));
    }
    s.End();
    out += text;
}

void Set(const AgentOptions& o) {
    if (o.words.size() < 2) throw Failure("set: missing KIND (config, msgtab, schedule)");
    const std::string& kind = o.words[1];
    if (kind != "config" && kind != "msgtab" && kind != "schedule")
        throw Failure("--agent set is for config, msgtab and schedule");
    std::optional<std::string> jsonFile;
    std::vector<std::pair<std::string, std::string>> assignments;
    for (std::size_t i = 2; i < o.words.size(); ++i) {
        const std::string& w = o.words[i];
        if (w == "--json") {
            if (i + 1 >= o.words.size()) throw Failure("set: --json needs a FILE");
            if (jsonFile) throw Failure("set: --json given twice");
            jsonFile = o.words[++i];
            continue;
        }
        const auto eq = w.find('=');
        if (eq == std::string::npos || eq == 0)
            throw Failure("set: \"" + w + "\" is not FIELD=VALUE");
        assignments.emplace_back(w.substr(0, eq), w.substr(eq + 1));
    }
    if (!jsonFile && assignments.empty()) throw Failure("set: nothing to change");
    // Read before connecting: bad input costs the agent nothing.
    std::optional<json> doc;
    if (jsonFile) doc = ReadJsonDocument(*jsonFile);

    Session s(o);
    // The agent's current record, changed as the local set changes the registry's, and sent
    // back whole; a bad word anywhere sends nothing.
    if (kind == "config") {
        auto m = s.Request(lk::kGetConfig, lk::kConfig, "the configuration");
        auto& c = Expect<ups::CConfig>(m);
        const auto before = lk::EncodeRecord(lk::kConfig, c);
        if (doc) ApplyConfigJson(c, *doc);
        for (const auto& [f, v] : assignments) ApplyConfigAssignment(c, f, v);
        RequireFitsTheLink(c, "config");
        s.Change(before, lk::EncodeRecord(lk::kConfig, c), lk::kGetConfig, "the configuration");
    } else if (kind == "msgtab") {
        auto m = s.Request(lk::kGetMsgTab, lk::kMsgTab, "the notification texts");
        auto& t = Expect<ups::CMsgTab>(m);
        const auto before = lk::EncodeRecord(lk::kMsgTab, t);
        if (doc) ApplyMsgTabJson(t, *doc);
        for (const auto& [f, v] : assignments) ApplyMsgTabAssignment(t, f, v);
        RequireFitsTheLink(t, "msgtab");
        s.Change(before, lk::EncodeRecord(lk::kMsgTab, t), lk::kGetMsgTab,
                 "the notification texts");
    } else {
        auto m = s.Request(lk::kGetSchedule, lk::kSchedule, "the schedule");
        auto& sched = Expect<ups::CSchedule>(m);
        const auto before = lk::EncodeRecord(lk::kSchedule, sched);
        auto entries = sched.Entries();
        if (doc) ApplyScheduleJson(entries, *doc);
        for (const auto& [f, v] : assignments) ApplyScheduleAssignment(entries, f, v);
        sched.RemoveAll();
        for (const auto& e : entries) sched.Add(e);
        RequireFitsTheLink(sched, "schedule");
        s.Change(before, lk::EncodeRecord(lk::kSchedule, sched), lk::kGetSchedule, "the schedule");
    }
    s.End();
}

void Command(const AgentOptions& o) {
    static constexpr std::pair<std::string_view, std::int32_t> kCommands[] = {
        {"beeper", lk::kToggleBeeper},
        {"test10", lk::kTest10s},
        {"testlow", lk::kTestToLow},
        {"cancel", lk::kCancelTest},
        {"clear-eventlog", lk::kClearEventLog},
        {"clear-datalog", lk::kClearDataLog},
    };
    const std::string& name = o.words[0];
    std::vector<std::uint8_t> message;
    if (name == "test") {
        if (o.words.size() != 2) throw Failure("test needs MINUTES");
        const auto minutes = ParseInteger(o.words[1], 1, INT32_MAX, "test MINUTES");
        message = lk::EncodeNumber(lk::kTestMinutes, static_cast<std::int32_t>(minutes));
    } else {
        for (const auto& [n, code] : kCommands) {
            if (n == name) message = lk::Encode(code);
        }
        if (message.empty())
            throw Failure("--agent: unknown command \"" + name +
                          "\" (show, set, beeper, test10, testlow, test MINUTES, cancel, "
                          "clear-eventlog, clear-datalog)");
        if (o.words.size() != 1) throw Failure(name + " takes no arguments");
    }
    Session s(o);
    s.Send(message);
    s.End();
}

}  // namespace

void ApplyToState(AgentState& st, const lk::Message& m) {
    switch (m.code) {
        case lk::kConnected:
            st.connected = true;
            break;
        case lk::kNotConnected:
            st.connected = false;
            break;
        case lk::kTestRunning:
            st.selfTest = true;
            break;
        case lk::kTestFinished:
            st.selfTest = false;
            break;
        case lk::kUtilityFailed:
            st.utilityFailed = true;
            break;
        case lk::kUtilityRestored:
            st.utilityFailed = false;
            break;
        case lk::kBatteryLow:
            st.batteryLow = true;
            break;
        case lk::kBatteryLowCleared:
            st.batteryLow = false;
            break;
        case lk::kCountdown:
            st.countdown = m.number;
            break;
        case lk::kCountdownStopped:
            st.countdown = 0;
            break;
        case lk::kUpsFailure:
            st.upsFailed = true;
            break;
        case lk::kUpsGood:
            st.upsFailed = false;
            break;
        case lk::kStandbyType:
            st.type = "standby";
            break;
        case lk::kOnlineType:
            st.type = "online";
            break;
        case lk::kBoosting:
            st.boostBuck = "boost";
            break;
        case lk::kBucking:
            st.boostBuck = "buck";
            break;
        case lk::kNoBoostBuck:
            st.boostBuck = "none";
            break;
        case lk::kOnBypass:
            st.bypass = true;
            break;
        case lk::kNotOnBypass:
            st.bypass = false;
            break;
        case lk::kStatus:
            if (auto* r = m.As<ups::CUPSStatus>()) st.status = r->Get();
            break;
        case lk::kBasicInfo:
            if (auto* r = m.As<ups::CUPSBasicInfo>()) st.basicInfo = r->Get();
            break;
        case lk::kRatingInfo:
            if (auto* r = m.As<ups::CUPSRatingInfo>()) st.ratingInfo = r->Get();
            break;
        default:
            break;
    }
}

json StateJson(const AgentState& st) {
    const auto flag = [](const std::optional<bool>& b) { return b ? json(*b) : json(nullptr); };
    const auto word = [](const std::optional<std::string>& w) {
        return w ? json(*w) : json(nullptr);
    };
    json j;
    j["connected"] = flag(st.connected);
    j["utilityFailed"] = flag(st.utilityFailed);
    j["batteryLow"] = flag(st.batteryLow);
    j["selfTest"] = flag(st.selfTest);
    j["upsFailed"] = flag(st.upsFailed);
    j["type"] = word(st.type);
    j["boostBuck"] = word(st.boostBuck);
    j["bypass"] = flag(st.bypass);
    j["countdown"] = st.countdown ? json(*st.countdown) : json(nullptr);
    return j;
}

std::string StateText(const AgentState& st) {
    const auto flag = [](const std::optional<bool>& b) -> std::string {
        return b ? (*b ? "yes" : "no") : "unknown";
    };
    std::string t;
    t += "connected to UPS    " + flag(st.connected) + "\n";
    t += "utility failed      " + flag(st.utilityFailed) + "\n";
    t += "battery low         " + flag(st.batteryLow) + "\n";
    t += "self-test running   " + flag(st.selfTest) + "\n";
    t += "UPS failure         " + flag(st.upsFailed) + "\n";
    t += "UPS type            " + st.type.value_or("unknown") + "\n";
    t += "boost/buck          " + st.boostBuck.value_or("unknown") + "\n";
    t += "on bypass           " + flag(st.bypass) + "\n";
    if (st.countdown && *st.countdown > 0)
        t += "shutdown countdown  " + std::to_string(*st.countdown) + " s\n";
    return t;
}

int RunAgent(const std::vector<std::string>& args, std::string& out) {
    const AgentOptions o = ParseOptions(args);
    if (o.words[0] == "show")
        Show(o, out);
    else if (o.words[0] == "set")
        Set(o);
    else
        Command(o);
    return 0;
}

}  // namespace upsrec
