// Warnings to every logged-in user's terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Writes "[host]message - time" to the terminal of every login record with a user name.
// Only terminals under /dev are written: a line field that climbs out of /dev or names anything
// but a terminal is skipped, and terminals are opened so that one that does not drain can never
// block the daemon. False when the login records cannot be read.
bool WarnTerminals(const std::string& utmp_path, std::string_view host, std::string_view message,
                   int64_t when);
