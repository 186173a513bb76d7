#include "q1_dialect.h"

#include <array>
#include <optional>

#include "q1_format.h"

namespace upssim {
namespace {

// Patterns are literal text in which '#' stands for one decimal digit.
bool matches(std::string_view pattern, std::string_view command) {
    if (pattern.size() != command.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char p = pattern[i];
        const char c = command[i];
        if (p == '#' ? (c < '0' || c > '9') : p != c) return false;
    }
    return true;
}

// Only called on text the pattern has already proven to be digits.
int digits(std::string_view text) {
    int value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

Outcome query(std::string reply) {
    return {Outcome::Kind::query, std::move(reply)};
}
Outcome obeyed() {
    return {Outcome::Kind::obeyed, {}};
}
Outcome ignored() {
    return {Outcome::Kind::ignored, {}};
}

// > [Q1\r]
// < [(230.0 230.0 230.0 021 50.0 2.27 25.0 00001001\r]
//    0         1         2         3         4
//    01234567890123456789012345678901234567890123456
//    (input fault outpt lod freq batt temp UBKFYTSE
//    bits: Utility fail, Battery low, boost/buck (K), UPS Failed, standbY type (0 on-line),
//    Test running, Shutdown pending, bEeper on
Outcome status(std::string_view, UpsState& ups, TimePoint) {
    return query(status_reply(ups));
}

// > [I\r]
// < [#Stavlen         SIM-1000   1.0       \r]
//    0         1         2         3
//    012345678901234567890123456789012345678
//    #company-------- model----- version---
Outcome model(std::string_view, UpsState& ups, TimePoint) {
    return query(model_reply(ups));
}

// > [F\r]
// < [#230.0 004 24.00 50.0\r]
//    0         1         2
//    0123456789012345678901
//    #volts cur batts freq
Outcome rating(std::string_view, UpsState& ups, TimePoint) {
    return query(rating_reply(ups));
}

// > [T\r]      ten-second self-test; no reply
Outcome test_short(std::string_view, UpsState& ups, TimePoint now) {
    ups.start_test(10.0, now);
    return obeyed();
}

// > [TL\r]     test until the battery is low; no reply
Outcome test_until_low(std::string_view, UpsState& ups, TimePoint) {
    ups.start_test_until_battery_low();
    return obeyed();
}

// > [T05\r]    test for 01..99 minutes; no reply
//    0123
Outcome test_minutes(std::string_view cmd, UpsState& ups, TimePoint now) {
    const int minutes = digits(cmd.substr(1, 2));
    if (minutes == 0) return ignored();
    ups.start_test(minutes * 60.0, now);
    return obeyed();
}

// > [CT\r]     cancel a running test; no reply
Outcome cancel_test(std::string_view, UpsState& ups, TimePoint) {
    ups.cancel_test();
    return obeyed();
}

// > [S.2R0000\r]   shut the output down after .n (tenths of a minute) or nn minutes,
// > [S03R0537\r]   optionally coming back rrrr minutes after it went off; no reply
//    012345678
// R0000, like no R at all, leaves the output off until the utility next returns.
Outcome shutdown(std::string_view cmd, UpsState& ups, TimePoint now) {
    const double delay =
        cmd[1] == '.' ? digits(cmd.substr(2, 1)) * 6.0 : digits(cmd.substr(1, 2)) * 60.0;
    std::optional<double> restart;
    if (cmd.size() > 3) restart = digits(cmd.substr(4, 4)) * 60.0;
    ups.schedule_shutdown(delay, restart, now);
    return obeyed();
}

// > [C\r]      cancel a pending shutdown, or bring an output that is off back; no reply
Outcome cancel_shutdown(std::string_view, UpsState& ups, TimePoint now) {
    ups.cancel_shutdown(now);
    return obeyed();
}

struct Q1Command {
    std::string_view pattern;
    Outcome (*handle)(std::string_view command, UpsState& ups, TimePoint now);
};

constexpr std::array kCommands{
    Q1Command{.pattern = "Q1", .handle = status},
    Q1Command{.pattern = "I", .handle = model},
    Q1Command{.pattern = "F", .handle = rating},
    Q1Command{.pattern = "T", .handle = test_short},
    Q1Command{.pattern = "TL", .handle = test_until_low},
    Q1Command{.pattern = "T##", .handle = test_minutes},
    Q1Command{.pattern = "CT", .handle = cancel_test},
    Q1Command{.pattern = "S.#", .handle = shutdown},
    Q1Command{.pattern = "S.#R####", .handle = shutdown},
    Q1Command{.pattern = "S##", .handle = shutdown},
    Q1Command{.pattern = "S##R####", .handle = shutdown},
    Q1Command{.pattern = "C", .handle = cancel_shutdown},
};

}  // namespace

Outcome handle_command(std::string_view command, UpsState& ups, TimePoint now) {
    ups.tick(now);
    for (const Q1Command& entry : kCommands) {
        if (matches(entry.pattern, command)) return entry.handle(command, ups, now);
    }
    return ignored();
}

}  // namespace upssim
