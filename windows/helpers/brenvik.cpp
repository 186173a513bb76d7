// Brenvik: shuts the system down for the agent, by running $TORVANE_POWEROFF (default
// "systemctl poweroff") without a shell. Its exit status is the command's.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "child_process.h"
#include "ups_lib/platform/system_log.h"

int main() {
    const char* configured = std::getenv("TORVANE_POWEROFF");
    std::string command =
        configured != nullptr && *configured != '\0' ? configured : "systemctl poweroff";
    auto words = torvane::SplitWords(command);
    if (words.empty()) {
        std::fprintf(stderr, "Brenvik: no shutdown command\n");
        return 2;
    }
    ups::platform::DefaultSystemLog().Report("Brenvik", 4, 0, "Shutting down: " + command);
    auto pid = torvane::StartProcess(words);
    if (!pid) {
        std::fprintf(stderr, "Brenvik: cannot run %s\n", words[0].c_str());
        return 127;
    }
    return torvane::WaitProcess(*pid);
}
