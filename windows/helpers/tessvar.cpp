// Tessvar: the agent's warning box. The text given on the command line goes to every terminal a
// user is logged in on, to the system log, and, when a desktop session bus is there, to the
// desktop as a notification. It never waits for anyone to read it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "child_process.h"
#include "helper_util.h"
#include "ups_lib/platform/system_log.h"

namespace {

// A login record's line names a device under /dev; one that climbs out of it names no
// terminal of ours.
bool SafeLine(const std::string& line) {
    if (line.empty() || line.front() == '/') return false;
    return line.find("..") == std::string::npos;
}

void WriteToTerminal(const std::string& line, const std::string& text) {
    std::string path = "/dev/" + line;
    struct stat st {};
    // Look before opening: opening some devices has effects of their own.
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return;
    int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    if (isatty(fd)) {
        const char* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            ssize_t n = write(fd, p, left);
            if (n <= 0) break;  // a full or hung-up terminal loses the rest
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    close(fd);
}

void WarnTerminals(const std::string& text) {
    const char* records = std::getenv("TORVANE_UTMP");
    if (records != nullptr && *records != '\0' && utmpxname(records) != 0) return;
    std::string framed = "\r\n" + text + "\r\n";
    setutxent();
    while (const utmpx* entry = getutxent()) {
        if (entry->ut_type != USER_PROCESS || entry->ut_user[0] == '\0') continue;
        std::string line(entry->ut_line, strnlen(entry->ut_line, sizeof entry->ut_line));
        if (SafeLine(line)) WriteToTerminal(line, framed);
    }
    endutxent();
}

}  // namespace

int main(int argc, char** argv) {
    std::string text = helpers::Printable(helpers::JoinArguments(argc, argv));
    if (text.empty()) return 0;
    WarnTerminals(text);
    ups::platform::DefaultSystemLog().Report("Tessvar", 4, 0, text);
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) {
        torvane::StartProcess({"notify-send", "--app-name=Torvane", "Torvane", text});
    }
    return 0;
}
