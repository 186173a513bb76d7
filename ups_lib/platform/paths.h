// Where the agent's files live. On Windows: beside the program, and CLOSEAPP.INI in the Windows
// directory. On POSIX the program directory is $TORVANE_HOME when set, otherwise /var/lib/torvane
// for programs installed under the prefix (/usr/lib/torvane, /usr/sbin) and the
// directory of the running executable for the rest (a build tree), and the program's own name
// counts as "Torvane.exe" whenever a file name is derived from it (so the data log is
// "Torvane.dat").
#pragma once

#include <filesystem>

namespace ups::platform {

std::filesystem::path ProgramDirectory();
// The full path of the program, the name file names are derived from.
std::filesystem::path ProgramPath();
// Where the close-applications helper leaves CLOSEAPP.INI: the Windows directory; on POSIX the
// program directory, where our own stand-in for that helper writes it.
std::filesystem::path WindowsDirectory();

}  // namespace ups::platform
