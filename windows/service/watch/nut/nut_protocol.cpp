#include "watch/nut/nut_protocol.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace torvane::nut {

namespace {

using watch::UpsSnapshot;

std::string Err(std::string_view code) {
    return "ERR " + std::string(code) + "\n";
}

std::string Upper(std::string_view word) {
    std::string out(word);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// The UPS's figures come in one status reply; without one there are none to tell.
bool HasStatus(const UpsSnapshot& s) {
    return !s.status.rawLine.empty();
}
bool HasRating(const UpsSnapshot& s) {
    return !s.rating.rawLine.empty();
}

using Value = std::optional<std::string>;

Value StatusNumber(const UpsSnapshot& s, std::int32_t value, int divisor, int places) {
    if (!HasStatus(s)) return std::nullopt;
    return Scaled(value, divisor, places);
}

Value RatedNumber(const UpsSnapshot& s, std::int32_t value, int divisor, int places) {
    // A rating of zero is a field the UPS leaves empty, not a rating.
    if (!HasRating(s) || value <= 0) return std::nullopt;
    return Scaled(value, divisor, places);
}

Value Text(const std::string& text) {
    std::string trimmed = Trim(text);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

struct Variable {
    std::string_view name;
    std::string_view description;
    int maxLength;  // STRING:n; 0 for a number
    Value (*value)(const UpsSnapshot&);
};

// In name order, as LIST VAR gives them. Numbers are printed the way NUT's own drivers print
// them: volts with one decimal, battery volts with two, the charge as a whole percent.
constexpr Variable kVariables[] = {
    {"battery.charge", "Battery charge (percent of full)", 0,
     [](const UpsSnapshot& s) { return StatusNumber(s, s.status.batteryCapacity, 1, 0); }},
    {"battery.voltage", "Battery voltage (V)", 0,
     [](const UpsSnapshot& s) { return StatusNumber(s, s.status.batteryVoltage, 100, 2); }},
    {"battery.voltage.nominal", "Nominal battery voltage (V)", 0,
     [](const UpsSnapshot& s) { return RatedNumber(s, s.rating.batteryVoltage, 100, 2); }},
    {"device.mfr", "Device manufacturer", 15,
     [](const UpsSnapshot& s) { return Text(s.basic.company); }},
    {"device.model", "Device model", 10, [](const UpsSnapshot& s) { return Text(s.basic.model); }},
    {"device.type", "Device type", 16, [](const UpsSnapshot&) { return Value("ups"); }},
    {"input.frequency", "Input line frequency (Hz)", 0,
     [](const UpsSnapshot& s) { return StatusNumber(s, s.status.inputFrequency, 10, 1); }},
    {"input.frequency.nominal", "Nominal input line frequency (Hz)", 0,
     [](const UpsSnapshot& s) { return RatedNumber(s, s.rating.frequency, 10, 1); }},
    {"input.voltage", "Input voltage (V)", 0,
     [](const UpsSnapshot& s) { return StatusNumber(s, s.status.inputVoltage, 10, 1); }},
    {"input.voltage.nominal", "Nominal input voltage (V)", 0,
     [](const UpsSnapshot& s) { return RatedNumber(s, s.rating.voltage, 10, 1); }},
    {"output.voltage", "Output voltage (V)", 0,
     [](const UpsSnapshot& s) { return StatusNumber(s, s.status.outputVoltage, 10, 1); }},
    {"ups.firmware", "UPS firmware", 10,
     [](const UpsSnapshot& s) { return Text(s.basic.version); }},
    {"ups.load", "Load on UPS (percent of full)", 0,
     [](const UpsSnapshot& s) {
         // Whole percent as the Q1 units give it; a tenth only when the UPS tells one.
         const int places = s.status.load % 10 == 0 ? 0 : 1;
         return StatusNumber(s, places == 0 ? s.status.load / 10 : s.status.load,
                             places == 0 ? 1 : 10, places);
     }},
    {"ups.mfr", "UPS manufacturer", 15, [](const UpsSnapshot& s) { return Text(s.basic.company); }},
    {"ups.model", "UPS model", 10, [](const UpsSnapshot& s) { return Text(s.basic.model); }},
    {"ups.status", "UPS status", 64,
     [](const UpsSnapshot& s) {
         std::string words = watch::StatusWords(s);
         return words.empty() ? std::nullopt : Value(std::move(words));
     }},
    {"ups.temperature", "UPS temperature (degrees C)", 0,
     [](const UpsSnapshot& s) { return StatusNumber(s, s.status.temperature, 10, 1); }},
};

const Variable* FindVariable(std::string_view name) {
    for (const Variable& v : kVariables) {
        if (v.name == name) return &v;
    }
    return nullptr;
}

// What a client may read of one variable now: its value, or the error that replaces it. While
// the UPS is silent nothing is told but the forced shutdown, so that the machines that share the
// UPS still follow this one down.
struct Reading {
    const Variable* variable = nullptr;
    std::string value;
    std::string_view error;
};

Reading Read(const UpsSnapshot& ups, std::string_view name) {
    Reading r;
    const Variable* v = FindVariable(name);
    if (!ups.connected && !(ups.forcedShutdown && name == "ups.status")) {
        r.error = "DATA-STALE";
        return r;
    }
    Value value = v != nullptr ? v->value(ups) : std::nullopt;
    if (!value) {
        r.error = "VAR-NOT-SUPPORTED";
        return r;
    }
    r.variable = v;
    r.value = std::move(*value);
    return r;
}

// Compares without stopping at the first difference, so that the time taken tells nothing
// about how much of a guessed password was right.
bool SameSecret(std::string_view a, std::string_view b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = i < a.size() ? a[i] : '\0';
        const char y = i < b.size() ? b[i] : '\0';
        diff |= static_cast<unsigned char>(x ^ y);
    }
    return diff == 0;
}

// Whether this session has proved to be the configured user. Without a configured password
// nobody may take the primary's part.
bool IsConfiguredUser(const Session& s, const watch::NutAccess& access) {
    if (access.password.empty() || !s.usernameSet || !s.passwordSet) return false;
    const bool user = s.username == access.user;
    const bool password = SameSecret(s.password, access.password);
    return user && password;
}

constexpr std::string_view kHelp =
    "Commands: HELP VER NETVER GET LIST USERNAME PASSWORD LOGIN LOGOUT PRIMARY MASTER FSD "
    "STARTTLS\n";

class Handler {
  public:
    Handler(Session& session, const Context& context, std::vector<std::string>& words)
        : s_(session), c_(context), w_(words) {}

    Result Run() {
        if (w_.empty()) return Fail("UNKNOWN-COMMAND");
        const std::string cmd = Upper(w_[0]);
        const std::size_t n = w_.size();
        if (cmd == "VER") return n == 1 ? Line(std::string(kVersionText)) : Invalid();
        if (cmd == "NETVER") return n == 1 ? Line(std::string(kProtocolVersion)) : Invalid();
        if (cmd == "HELP") return n == 1 ? Reply(std::string(kHelp)) : Invalid();
        if (cmd == "STARTTLS") return n == 1 ? Fail("FEATURE-NOT-CONFIGURED") : Invalid();
        if (cmd == "LIST") return List();
        if (cmd == "GET") return Get();
        if (cmd == "SET") return Set();
        if (cmd == "INSTCMD") return InstCmd();
        if (cmd == "USERNAME") return Username();
        if (cmd == "PASSWORD") return Password();
        if (cmd == "LOGIN") return Login();
        if (cmd == "LOGOUT") return Logout();
        if (cmd == "PRIMARY" || cmd == "MASTER") return Primary(cmd);
        if (cmd == "FSD") return Fsd();
        return Fail("UNKNOWN-COMMAND");
    }

  private:
    static Result Reply(std::string text) {
        Result r;
        r.reply = std::move(text);
        return r;
    }
    static Result Line(std::string text) { return Reply(std::move(text) + "\n"); }
    static Result Fail(std::string_view code) { return Reply(Err(code)); }
    static Result Invalid() { return Fail("INVALID-ARGUMENT"); }
    static bool Known(const std::string& ups) { return ups == kUpsName; }
    static std::string Begin(const std::string& query) { return "BEGIN LIST " + query + "\n"; }
    static std::string End(const std::string& query) { return "END LIST " + query + "\n"; }

    Result List() {
        const std::size_t n = w_.size();
        if (n < 2) return Invalid();
        const std::string sub = Upper(w_[1]);
        if (sub == "UPS") {
            if (n != 2) return Invalid();
            return Reply(Begin("UPS") + "UPS " + std::string(kUpsName) + " " +
                         Quote(kUpsDescription) + "\n" + End("UPS"));
        }
        if (sub == "VAR" || sub == "RW" || sub == "CMD" || sub == "CLIENT") {
            if (n != 3) return Invalid();
            if (!Known(w_[2])) return Fail("UNKNOWN-UPS");
            const std::string query = sub + " " + w_[2];
            std::string body;
            if (sub == "VAR") {
                if (!c_.ups.connected && !c_.ups.forcedShutdown) return Fail("DATA-STALE");
                for (const Variable& v : kVariables) {
                    Reading r = Read(c_.ups, v.name);
                    if (r.variable == nullptr) continue;
                    body +=
                        "VAR " + w_[2] + " " + std::string(v.name) + " " + Quote(r.value) + "\n";
                }
            } else if (sub == "CLIENT" && c_.clients != nullptr) {
                for (const std::string& address : *c_.clients) {
                    body += "CLIENT " + w_[2] + " " + address + "\n";
                }
            }
            // Nothing can be written and no command given: RW and CMD are empty lists.
            return Reply(Begin(query) + body + End(query));
        }
        if (sub == "ENUM" || sub == "RANGE") {
            if (n != 4) return Invalid();
            if (!Known(w_[2])) return Fail("UNKNOWN-UPS");
            if (FindVariable(w_[3]) == nullptr) return Fail("VAR-NOT-SUPPORTED");
            const std::string query = sub + " " + w_[2] + " " + w_[3];
            return Reply(Begin(query) + End(query));
        }
        return Invalid();
    }

    Result Get() {
        const std::size_t n = w_.size();
        if (n < 2) return Invalid();
        const std::string sub = Upper(w_[1]);
        if (sub == "NUMLOGINS" || sub == "UPSDESC") {
            if (n != 3) return Invalid();
            if (!Known(w_[2])) return Fail("UNKNOWN-UPS");
            if (sub == "NUMLOGINS") {
                return Line("NUMLOGINS " + w_[2] + " " + std::to_string(c_.numLogins));
            }
            return Line("UPSDESC " + w_[2] + " " + Quote(kUpsDescription));
        }
        if (sub == "VAR" || sub == "TYPE" || sub == "DESC" || sub == "CMDDESC") {
            if (n != 4) return Invalid();
            if (!Known(w_[2])) return Fail("UNKNOWN-UPS");
            const std::string head = sub + " " + w_[2] + " " + w_[3] + " ";
            if (sub == "CMDDESC") return Fail("CMD-NOT-SUPPORTED");
            if (sub == "DESC") {
                // A description is a fact about the name, not about the UPS's answer.
                const Variable* v = FindVariable(w_[3]);
                return Line(head +
                            Quote(v != nullptr ? v->description : "Description unavailable"));
            }
            Reading r = Read(c_.ups, w_[3]);
            if (r.variable == nullptr) return Fail(r.error);
            if (sub == "VAR") return Line(head + Quote(r.value));
            if (r.variable->maxLength == 0) return Line(head + "NUMBER");
            return Line(head + "STRING:" + std::to_string(r.variable->maxLength));
        }
        return Invalid();
    }

    // Nothing the agent tells can be written and the UPS takes no command from the network.
    Result Set() {
        if (w_.size() != 5 || Upper(w_[1]) != "VAR") return Invalid();
        if (!Known(w_[2])) return Fail("UNKNOWN-UPS");
        return Fail(FindVariable(w_[3]) != nullptr ? "READONLY" : "VAR-NOT-SUPPORTED");
    }
    Result InstCmd() {
        if (w_.size() != 3 && w_.size() != 4) return Invalid();
        if (!Known(w_[1])) return Fail("UNKNOWN-UPS");
        return Fail("CMD-NOT-SUPPORTED");
    }

    Result Username() {
        if (w_.size() != 2) return Invalid();
        if (s_.usernameSet) return Fail("ALREADY-SET-USERNAME");
        if (w_[1].empty()) return Fail("INVALID-USERNAME");
        s_.username = w_[1];
        s_.usernameSet = true;
        return Line("OK");
    }

    Result Password() {
        if (w_.size() != 2) return Invalid();
        if (s_.passwordSet) return Fail("ALREADY-SET-PASSWORD");
        if (w_[1].empty()) return Fail("INVALID-PASSWORD");
        s_.password = w_[1];
        s_.passwordSet = true;
        return Line("OK");
    }

    // Any user may log in: a secondary only says that its machine draws power from the UPS,
    // which earns it nothing but to be waited for at shutdown.
    Result Login() {
        if (w_.size() != 2) return Invalid();
        if (s_.loggedIn) return Fail("ALREADY-LOGGED-IN");
        if (!s_.usernameSet) return Fail("USERNAME-REQUIRED");
        if (!s_.passwordSet) return Fail("PASSWORD-REQUIRED");
        if (!Known(w_[1])) return Fail("UNKNOWN-UPS");
        s_.loggedIn = true;
        return Line("OK");
    }

    Result Logout() {
        if (w_.size() != 1) return Invalid();
        s_.loggedIn = false;
        Result r = Line("OK Goodbye");
        r.close = true;
        return r;
    }

    Result Primary(const std::string& cmd) {
        if (w_.size() != 2) return Invalid();
        if (!Known(w_[1])) return Fail("UNKNOWN-UPS");
        if (!s_.usernameSet) return Fail("USERNAME-REQUIRED");
        if (!s_.passwordSet) return Fail("PASSWORD-REQUIRED");
        if (!IsConfiguredUser(s_, c_.access)) return Denied();
        s_.primary = true;
        return Line("OK " + cmd + "-GRANTED");
    }

    Result Fsd() {
        if (w_.size() != 2) return Invalid();
        if (!Known(w_[1])) return Fail("UNKNOWN-UPS");
        if (!s_.primary) return Denied();
        Result r = Line("OK FSD-SET");
        r.fsd = true;
        return r;
    }

    static Result Denied() {
        Result r = Fail("ACCESS-DENIED");
        r.deniedAuth = true;
        return r;
    }

    Session& s_;
    const Context& c_;
    std::vector<std::string>& w_;
};

}  // namespace

std::string Scaled(long long value, long long divisor, int places) {
    const bool negative = value < 0;
    // Widened before the sign is dropped, so that the most negative value survives.
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(value) : value;
    const auto unit = static_cast<unsigned long long>(divisor > 0 ? divisor : 1);
    std::string text = (negative ? "-" : "") + std::to_string(magnitude / unit);
    if (places > 0) {
        std::string fraction = std::to_string(magnitude % unit);
        // The remainder has as many digits as the divisor has zeros: pad on the left, then fit
        // it to the places asked for.
        std::size_t digits = 0;
        for (unsigned long long d = unit; d > 1; d /= 10) ++digits;
        if (fraction.size() < digits) fraction.insert(0, digits - fraction.size(), '0');
        fraction.resize(static_cast<std::size_t>(places), '0');
        text += "." + fraction;
    }
    return text;
}

bool SplitWords(std::string_view line, std::vector<std::string>& words) {
    words.clear();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    std::size_t i = 0;
    while (i < line.size()) {
        if (blank(line[i])) {
            ++i;
            continue;
        }
        std::string word;
        bool quoted = false;
        bool closed = false;
        if (line[i] == '"') {
            quoted = true;
            ++i;
        }
        while (i < line.size()) {
            const char c = line[i];
            if (c == '\\') {
                if (i + 1 == line.size()) return false;
                word += line[i + 1];
                i += 2;
            } else if (quoted && c == '"') {
                ++i;
                closed = true;
                break;
            } else if (!quoted && blank(c)) {
                break;
            } else {
                word += c;
                ++i;
            }
        }
        if (quoted && !closed) return false;
        words.push_back(std::move(word));
    }
    return true;
}

std::string Quote(std::string_view value) {
    std::string out = "\"";
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            out += '?';
            continue;
        }
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

Result HandleLine(Session& session, std::string_view line, const Context& context) {
    std::vector<std::string> words;
    if (!SplitWords(line, words)) {
        Result r;
        r.reply = Err("INVALID-ARGUMENT");
        return r;
    }
    return Handler(session, context, words).Run();
}

}  // namespace torvane::nut
