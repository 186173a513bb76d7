// The read side of the NUT network protocol (port 3493) and its shutdown coordination: one
// request line in, the reply text out. Pure code: the server owns the sockets, the sessions and
// the copy of the snapshot each request is answered from.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "watch/nut/nut_server.h"
#include "watch/ups_snapshot.h"

namespace torvane::nut {

// The only UPS the agent serves, and its description.
inline constexpr std::string_view kUpsName = "ups";
inline constexpr std::string_view kUpsDescription = "UPS watched by the Torvane agent";
// What VER says: our own name, never another program's.
inline constexpr std::string_view kVersionText = "Torvane agent - NUT network protocol 1.3";
inline constexpr std::string_view kProtocolVersion = "1.3";
// A request line longer than this (its line end not counted) is refused and its connection
// closed: no client of the protocol sends anything near it.
inline constexpr std::size_t kMaxLine = 512;

// One connection's state.
struct Session {
    std::string username;
    std::string password;
    bool usernameSet = false;
    bool passwordSet = false;
    bool loggedIn = false;  // LOGIN done: the client's machine draws power from the UPS
    bool primary = false;   // PRIMARY (or MASTER) granted: FSD is allowed
};

// What a request is answered from besides the session.
struct Context {
    const watch::UpsSnapshot& ups;
    const watch::NutAccess& access;
    int numLogins = 0;                        // connections that did LOGIN, this one included
    const std::vector<std::string>* clients;  // their addresses, for LIST CLIENT; may be null
};

struct Result {
    std::string reply;        // whole lines, each ending in '\n'
    bool close = false;       // close the connection after the reply
    bool fsd = false;         // a granted primary asked for the forced shutdown
    bool deniedAuth = false;  // PRIMARY, MASTER or FSD refused: the server paces repeats
};

// The answer to one request line (without its line end).
Result HandleLine(Session& session, std::string_view line, const Context& context);

// The request split into words: blanks separate them, "..." holds blanks, and a backslash takes
// the next character as it is. False when a quote is left open or a backslash ends the line.
bool SplitWords(std::string_view line, std::vector<std::string>& words);

// A value between quotes, its quotes and backslashes escaped. A control character, which no
// UPS sends in a sound reply and which would break the line, becomes '?'.
std::string Quote(std::string_view value);

// A scaled integer as a decimal number with `places` digits after the point: (2304, 10, 1) is
// "230.4", (2730, 100, 2) is "27.30", (-55, 10, 1) is "-5.5".
std::string Scaled(long long value, long long divisor, int places);

}  // namespace torvane::nut
