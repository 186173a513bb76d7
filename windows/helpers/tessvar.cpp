// Tessvar: the agent's warning box. The text given on the command line goes to the system log
// and to the people at the machine: on Windows as a box on the desktop it runs on (the agent
// starts it on the console user's), on Linux to every terminal a user is logged in on and, when
// a desktop session bus is there, to the desktop as a notification. The agent never waits for
// anyone to read it.
#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include "ups_lib/platform/wide_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>
#endif

#include <cstdlib>
#include <cstring>
#include <string>

#include "child_process.h"
#include "helper_util.h"
#include "ups_lib/platform/system_log.h"

namespace {

#ifndef _WIN32
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
#else
// The words of the command line as the agent gave them: the narrow argv of the C runtime has
// lost every character outside the local code page.
std::string CommandLineText() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) return {};
    std::wstring joined;
    for (int i = 1; i < count; ++i) {
        if (i > 1) joined += L' ';
        joined += words[i];
    }
    LocalFree(words);
    const int size = static_cast<int>(joined.size());
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, joined.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, joined.data(), size, text.data(), n, nullptr, nullptr);
    return text;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    std::string text = helpers::Printable(CommandLineText());
#else
    std::string text = helpers::Printable(helpers::JoinArguments(argc, argv));
#endif
    if (text.empty()) return 0;
    ups::platform::DefaultSystemLog().Report("Tessvar", 4, 0, text);
#ifdef _WIN32
    // A box where nobody can see it (the service's own session, when no one is logged on)
    // would wait for ever: the system log has it then. Elsewhere it stands in front of every
    // window, so that it is seen during a full-screen program too.
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session != 0) {
        MessageBoxW(nullptr, ups::platform::Wide(text).c_str(), L"Torvane",
                    MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL | MB_SETFOREGROUND);
    }
    (void)argc;
    (void)argv;
#else
    WarnTerminals(text);
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) {
        torvane::StartProcess({"notify-send", "--app-name=Torvane", "Torvane", text});
    }
#endif
    return 0;
}
