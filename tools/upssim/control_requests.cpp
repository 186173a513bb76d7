#include "control_requests.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "command_log.h"
#include "q1_format.h"

namespace upssim {
namespace {

// Switches that come in pairs: "utility fail" / "utility ok" and so on.
struct Switch {
    std::string_view name;
    std::string_view on;
    std::string_view off;
    void (*apply)(UpsState& ups, bool on, TimePoint now);
};

constexpr std::array kSwitches{
    Switch{.name = "utility",
           .on = "fail",
           .off = "ok",
           .apply = [](UpsState& u, bool on, TimePoint now) { u.set_utility_fail(on, now); }},
    Switch{.name = "battery",
           .on = "low",
           .off = "ok",
           .apply = [](UpsState& u, bool on, TimePoint) { u.set_battery_low(on); }},
    Switch{.name = "ups",
           .on = "failed",
           .off = "ok",
           .apply = [](UpsState& u, bool on, TimePoint) { u.set_ups_failed(on); }},
    Switch{.name = "test",
           .on = "on",
           .off = "off",
           .apply =
               [](UpsState& u, bool on, TimePoint now) {
                   if (on) {
                       u.start_test(std::nullopt, now);
                   } else {
                       u.cancel_test();
                   }
               }},
    Switch{.name = "beeper",
           .on = "on",
           .off = "off",
           .apply = [](UpsState& u, bool on, TimePoint) { u.set_beeper(on); }},
    Switch{.name = "boost",
           .on = "on",
           .off = "off",
           .apply = [](UpsState& u, bool on, TimePoint) { u.set_boost(on); }},
};

// Fields "set" can change; exactly one of the three accessors is given.
struct Field {
    std::string_view name;
    double& (*real)(UpsState&) = nullptr;
    long& (*integer)(UpsState&) = nullptr;
    std::string& (*text)(UpsState&) = nullptr;
};

constexpr std::array kFields{
    Field{.name = "input", .real = [](UpsState& u) -> double& { return u.readings.input; }},
    Field{.name = "fault", .real = [](UpsState& u) -> double& { return u.readings.fault; }},
    Field{.name = "output", .real = [](UpsState& u) -> double& { return u.readings.output; }},
    Field{.name = "load", .integer = [](UpsState& u) -> long& { return u.readings.load; }},
    Field{.name = "frequency", .real = [](UpsState& u) -> double& { return u.readings.frequency; }},
    Field{.name = "battery", .real = [](UpsState& u) -> double& { return u.readings.battery; }},
    Field{.name = "temperature",
          .real = [](UpsState& u) -> double& { return u.readings.temperature; }},
    Field{.name = "capacity", .real = [](UpsState& u) -> double& { return u.readings.capacity; }},
    Field{.name = "rated_voltage", .real = [](UpsState& u) -> double& { return u.rating.voltage; }},
    Field{.name = "rated_current",
          .integer = [](UpsState& u) -> long& { return u.rating.current; }},
    Field{.name = "rated_battery", .real = [](UpsState& u) -> double& { return u.rating.battery; }},
    Field{.name = "rated_frequency",
          .real = [](UpsState& u) -> double& { return u.rating.frequency; }},
    Field{.name = "company",
          .text = [](UpsState& u) -> std::string& { return u.identity.company; }},
    Field{.name = "model", .text = [](UpsState& u) -> std::string& { return u.identity.model; }},
    Field{.name = "version",
          .text = [](UpsState& u) -> std::string& { return u.identity.version; }},
};

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Splits off the first word; `rest` keeps everything after the blanks that follow it.
std::string_view next_word(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && is_blank(rest[start])) ++start;
    std::size_t end = start;
    while (end < rest.size() && !is_blank(rest[end])) ++end;
    const std::string_view word = rest.substr(start, end - start);
    while (end < rest.size() && is_blank(rest[end])) ++end;
    rest.remove_prefix(end);
    return word;
}

std::string_view trim_end(std::string_view s) {
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

template <typename T>
bool parse_number(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Requests that only look: recording them would bury the commands under a test's polling.
bool is_query(std::string_view request) {
    const std::string_view verb = next_word(request);
    return verb == "status" || verb == "output" || verb == "pending";
}

// A span of UPS seconds: whole or fractional, never negative, and short of the thirty years
// beyond which UpsState stops counting anyway.
bool parse_seconds(std::string_view text, double& seconds) {
    return parse_number(text, seconds) && std::isfinite(seconds) && seconds >= 0 && seconds <= 1e9;
}

}  // namespace

std::string ControlRequests::answer(std::string_view request, TimePoint now) {
    std::string reply = handle(request, now);
    if (reply.starts_with("ok") && !is_query(request)) record_.append(request);
    return reply;
}

std::string ControlRequests::handle(std::string_view request, TimePoint now) {
    for (char c : request) {
        if ((c < 0x20 || c > 0x7e) && c != '\t') return "error request is not text";
    }
    ups_.tick(now);
    std::string_view rest = trim_end(request);
    const std::string_view verb = next_word(rest);
    if (verb.empty()) return "error empty request";

    for (const Switch& s : kSwitches) {
        if (verb != s.name) continue;
        const std::string_view word = next_word(rest);
        if (!rest.empty() || (word != s.on && word != s.off))
            return "error usage: " + std::string(s.name) + ' ' + std::string(s.on) + '|' +
                   std::string(s.off);
        s.apply(ups_, word == s.on, now);
        return "ok";
    }
    if (verb == "set") {
        const std::string_view field = next_word(rest);
        if (field.empty() || rest.empty()) return "error usage: set FIELD VALUE";
        return set_field(field, rest);
    }
    if (verb == "reply") {
        const auto mode = parse_reply_mode(next_word(rest));
        if (!mode || !rest.empty())
            return "error usage: reply normal|silent|garbage|nocr|toolong|binary|wrongfirst";
        replies_.set_mode(*mode);
        return "ok";
    }
    if (verb == "shutdown") return shutdown(rest, now);
    if (verb == "selftest") return selftest(rest, now);
    if (!rest.empty()) return "error unexpected words after " + std::string(verb);
    if (verb == "status") return "ok " + escape_bytes(status_reply(ups_));
    if (verb == "output") return ups_.output_on() ? "ok on" : "ok off";
    if (verb == "pending") return pending(now);
    if (verb == "quit") {
        quit_ = true;
        return "ok";
    }
    return "error unknown request";
}

std::string ControlRequests::shutdown(std::string_view words, TimePoint now) {
    const std::string_view delay_text = next_word(words);
    const std::string_view restart_text = next_word(words);
    double delay = 0;
    double restart = 0;
    if (!words.empty() || !parse_seconds(delay_text, delay) ||
        (!restart_text.empty() && !parse_seconds(restart_text, restart)))
        return "error usage: shutdown DELAY [RESTART] (UPS seconds, 0 to 1e9)";
    ups_.schedule_shutdown(delay, restart, now);
    return "ok";
}

std::string ControlRequests::selftest(std::string_view words, TimePoint now) {
    const std::string_view what = next_word(words);
    double seconds = 0;
    if (words.empty() && what == "low") {
        ups_.start_test_until_battery_low();
        return "ok";
    }
    // A zero-second test would end before anyone could see its bit.
    if (!words.empty() || !parse_seconds(what, seconds) || seconds == 0)
        return "error usage: selftest SECONDS|low";
    ups_.start_test(seconds, now);
    return "ok";
}

std::string ControlRequests::set_field(std::string_view name, std::string_view value) {
    for (const Field& f : kFields) {
        if (name != f.name) continue;
        if (f.text) {
            f.text(ups_) = std::string(value);
            return "ok";
        }
        if (f.integer) {
            long number = 0;
            if (!parse_number(value, number))
                return "error not a whole number: " + std::string(value);
            f.integer(ups_) = number;
            return "ok";
        }
        double number = 0;
        if (!parse_number(value, number) || !std::isfinite(number))
            return "error not a number: " + std::string(value);
        f.real(ups_) = number;
        return "ok";
    }
    return "error unknown field " + std::string(name);
}

std::string ControlRequests::pending(TimePoint now) const {
    const Pending p = ups_.pending(now);
    const auto whole = [](double seconds) {
        return std::to_string(static_cast<long long>(std::ceil(seconds)));
    };
    switch (p.kind) {
        case Pending::Kind::none:
            return "ok none";
        case Pending::Kind::shutdown:
            return "ok shutdown " + whole(p.seconds_left);
        case Pending::Kind::restart_timed:
            return "ok restart " + whole(p.seconds_left);
        case Pending::Kind::restart_on_utility:
            return "ok restart utility";
    }
    return "ok none";
}

}  // namespace upssim
