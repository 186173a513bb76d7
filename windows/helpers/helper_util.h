// What the outside programs share: their command line as one text, and running a command
// without a shell.
#pragma once

#include <string>
#include <vector>

namespace helpers {

// The arguments after the program name, joined by single blanks: the agent hands a text over as
// a Windows command line would carry it.
std::string JoinArguments(int argc, char** argv);

// Splits a command line at blanks and tabs (no quoting: a command that needs it belongs in a
// script). Empty words are dropped.
std::vector<std::string> SplitWords(const std::string& line);

// Runs `argv` without a shell and waits for it: its exit status, or 127 when it could not be
// started, 128 + n when signal n ended it.
int RunAndWait(const std::vector<std::string>& argv);

// Starts `argv` without a shell and does not wait; false when it could not be started.
bool Start(const std::vector<std::string>& argv);

// Only what a terminal shows as text: printable characters, line ends and tabs; anything else
// (escape sequences above all) becomes '?', so a configured text cannot drive a terminal.
std::string Printable(const std::string& text);

}  // namespace helpers
