// How a value from the agent becomes the text the programs work with: an integer as plain
// decimal digits ("2300"), an OCTET STRING as its text in double quotes ("\"SIM-1000\"").
#pragma once

#include <cstddef>
#include <string>

#include "snmp_objects.h"

struct variable_list;

namespace snmp {

// Longest value text kept, as in the 1024-byte buffer a reading is copied into.
inline constexpr std::size_t kValueMax = 1023;

// The value as text, or false when it is not of a type `kind` takes (a NULL, an exception, a
// string where a number belongs). A string longer than the buffer is cut, its closing quote
// kept; bytes that are not printable ASCII become '.', so an agent cannot send a terminal
// escape sequence to a screen that shows the value.
bool PrintValue(const variable_list& var, Kind kind, std::string& out);

}  // namespace snmp
