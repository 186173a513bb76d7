// What the outside programs share: their command line as one text, and texts made safe to show.
#pragma once

#include <string>

namespace helpers {

// The arguments after the program name, joined by single blanks: the agent hands a text over as
// a Windows command line would carry it.
std::string JoinArguments(int argc, char** argv);

// Only what a terminal shows as text: printable characters, line ends and tabs; anything else
// (escape sequences above all) becomes '?', so a configured text cannot drive a terminal.
std::string Printable(const std::string& text);

}  // namespace helpers
