// Every fixed path of the Linux edition resolves here, so that a test or a second
// installation can move the whole tree with one environment variable.
#pragma once

#include <string>
#include <string_view>

namespace kelvora {

// The root directory: $KELVORA_ROOT when set and not empty, otherwise "/etc/kelvora".
std::string RootDir();

// A file directly under the root, e.g. RootPath("vorn.ini").
std::string RootPath(std::string_view name);

// The login records: $KELVORA_UTMP or "/var/run/utmp".
std::string UtmpPath();

// The system console: $KELVORA_CONSOLE or "/dev/console".
std::string ConsolePath();

}  // namespace kelvora
