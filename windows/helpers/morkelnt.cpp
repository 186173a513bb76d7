// Morkelnt: closes the user's desktop applications before the agent shuts the system down, and
// leaves the report of what it closed in CLOSEAPP.INI in the program directory, marked as not
// shown yet. The agent starts it as "Morkelnt <title>" and waits for it, so every step here has
// a time limit: a desktop that does not answer must not hold up the shutdown.
//
// Each window but the agent's own (the title on the command line) is asked to close, as its
// close button would. On Windows those are the visible top-level windows of the desktop it runs
// on (the agent starts it on the console user's). On Linux a desktop's windows are reachable
// when an X display is set and wmctrl is installed; without a display there is nothing to
// close, and the report says so.
#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#else
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "helper_util.h"
#include "ups_lib/close_info.h"
#include "ups_lib/ini_file.h"
#include "ups_lib/platform/paths.h"
#include "ups_lib/platform/system_log.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long the applications get to close after being asked, all together.
constexpr auto kGraceLimit = 15s;

struct DesktopWindow {
    std::string id;
    std::string title;
};

#ifdef _WIN32

std::string Narrow(const wchar_t* text, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

BOOL CALLBACK AddWindow(HWND window, LPARAM list) {
    // What a user sees as an application: visible, with a title, not owned by another window.
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr) return TRUE;
    // Nor a console: closing one ends every program attached to it, the agent's own included.
    wchar_t kind[64];
    if (window == GetConsoleWindow()) return TRUE;
    if (GetClassNameW(window, kind, static_cast<int>(std::size(kind))) > 0 &&
        (std::wcscmp(kind, L"ConsoleWindowClass") == 0 ||
         std::wcscmp(kind, L"CASCADIA_HOSTING_WINDOW_CLASS") == 0)) {
        return TRUE;
    }
    wchar_t title[512];
    const int n = GetWindowTextW(window, title, static_cast<int>(std::size(title)));
    if (n <= 0) return TRUE;
    char id[32];
    std::snprintf(id, sizeof id, "0x%08llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    reinterpret_cast<std::vector<DesktopWindow>*>(list)->push_back({id, Narrow(title, n)});
    return TRUE;
}

HWND HandleOf(const DesktopWindow& w) {
    return reinterpret_cast<HWND>(
        static_cast<std::uintptr_t>(std::strtoull(w.id.c_str(), nullptr, 16)));
}

bool DesktopReachable() {
    return true;
}

std::optional<std::vector<DesktopWindow>> ListWindows() {
    std::vector<DesktopWindow> windows;
    if (!EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&windows))) return std::nullopt;
    return windows;
}

// Posted, not sent: an application that hangs must not hang us.
bool AskToClose(const DesktopWindow& w) {
    return PostMessageW(HandleOf(w), WM_CLOSE, 0, 0) != 0;
}

#else

// wmctrl answers at once on a live display; these limits are for one that hangs.
constexpr auto kListLimit = 5s;
constexpr auto kCloseLimit = 5s;
// A listing longer than this is not a window list.
constexpr std::size_t kMaxOutput = 1 << 20;

// Runs argv without a shell and collects its standard output; nothing when it cannot be run,
// fails, or is still running at the deadline (it is killed then).
std::optional<std::string> Capture(const std::vector<std::string>& argv, Clock::duration limit) {
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return std::nullopt;
    }
    std::string out;
    bool complete = false;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[4096];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            complete = n == 0;
            break;
        }
        if (out.size() + static_cast<std::size_t>(n) > kMaxOutput) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (!complete) kill(pid, SIGKILL);
    const int status = torvane::WaitProcess(pid);
    if (!complete || status != 0) return std::nullopt;
    return out;
}

// `wmctrl -l` lines: the window id, the desktop, the client's host, then the title.
std::vector<DesktopWindow> ParseWindowList(const std::string& listing) {
    std::vector<DesktopWindow> windows;
    std::size_t at = 0;
    while (at < listing.size()) {
        std::size_t end = listing.find('\n', at);
        if (end == std::string::npos) end = listing.size();
        const std::string line = listing.substr(at, end - at);
        at = end + 1;
        std::size_t pos = 0;
        std::string fields[3];
        bool whole = true;
        for (std::string& field : fields) {
            const std::size_t start = line.find_first_not_of(' ', pos);
            if (start == std::string::npos) {
                whole = false;
                break;
            }
            pos = line.find(' ', start);
            field = line.substr(start, pos == std::string::npos ? std::string::npos : pos - start);
            if (pos == std::string::npos) pos = line.size();
        }
        if (!whole || fields[0].rfind("0x", 0) != 0) continue;
        const std::size_t title = line.find_first_not_of(' ', pos);
        windows.push_back({fields[0], title == std::string::npos ? "" : line.substr(title)});
    }
    return windows;
}

bool DesktopReachable() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

std::optional<std::vector<DesktopWindow>> ListWindows() {
    auto listing = Capture({"wmctrl", "-l"}, kListLimit);
    if (!listing) return std::nullopt;
    return ParseWindowList(*listing);
}

bool AskToClose(const DesktopWindow& w) {
    return Capture({"wmctrl", "-i", "-c", w.id}, kCloseLimit).has_value();
}

#endif

bool StillListed(const std::vector<DesktopWindow>& now, const std::string& id) {
    for (const DesktopWindow& w : now) {
        if (w.id == id) return true;
    }
    return false;
}

// Asks every window but ours to close and gives back those that went within the grace time.
std::vector<DesktopWindow> CloseApplications(const std::string& keepTitle) {
    std::vector<DesktopWindow> closed;
    if (!DesktopReachable()) return closed;
    auto windows = ListWindows();
    if (!windows) return closed;
    std::vector<DesktopWindow> asked;
    for (const DesktopWindow& w : *windows) {
        if (w.title == keepTitle) continue;
        if (AskToClose(w)) asked.push_back(w);
    }
    const auto deadline = Clock::now() + kGraceLimit;
    while (!asked.empty()) {
        auto now = ListWindows();
        if (!now) break;
        for (auto it = asked.begin(); it != asked.end();) {
            if (StillListed(*now, it->id)) {
                ++it;
            } else {
                closed.push_back(*it);
                it = asked.erase(it);
            }
        }
        if (asked.empty() || Clock::now() >= deadline) break;
        std::this_thread::sleep_for(500ms);
    }
    return closed;
}

// The report: one section per closed application, named by its window, with its title. Which
// files it had open is not something a window manager tells, so each lists none.
bool WriteReport(const std::vector<DesktopWindow>& closed) {
    const auto file = ups::platform::WindowsDirectory() / std::string(ups::CCloseInfo::kFileName);
    ups::IniFile ini = ups::IniFile::Parse("");
    ini.Set("Main", "AppNumber", std::to_string(closed.size()));
    for (std::size_t i = 0; i < closed.size(); ++i) {
        const std::string section = "Window " + closed[i].id;
        ini.Set("Main", "App" + std::to_string(i), section);
        ini.Set(section, "Title", helpers::Printable(closed[i].title));
        ini.Set(section, "FileNumber", "0");
    }
    ini.Set("Main", "ShowMsg", "1");
    return ini.Save(file);
}

}  // namespace

int main(int argc, char** argv) {
    // The title of the window to leave open, which the agent hands over as its command line.
    const std::string keep = helpers::JoinArguments(argc, argv);
    const auto closed = CloseApplications(keep);
    ups::platform::DefaultSystemLog().Report(
        "Morkelnt", 4, 0, "Closed " + std::to_string(closed.size()) + " application(s)");
    return WriteReport(closed) ? 0 : 1;
}
