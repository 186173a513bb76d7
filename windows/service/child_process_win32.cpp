#ifdef _WIN32

#include <windows.h>

#include <userenv.h>
#include <wtsapi32.h>

#include <map>
#include <mutex>

#include "child_process.h"
#include "ups_lib/platform/paths.h"
#include "ups_lib/platform/wide_text.h"

namespace torvane {

using ups::platform::Wide;

namespace {

// Windows acts on a process through its handle; callers keep the process id, as on POSIX. A
// handle stays here until the process has been waited for, so that the id cannot pass to
// another process meanwhile (an open handle keeps it).
std::mutex& TableMutex() {
    static std::mutex m;
    return m;
}

std::map<int, HANDLE>& Table() {
    static std::map<int, HANDLE> table;
    return table;
}

HANDLE Find(int pid) {
    std::lock_guard lock(TableMutex());
    auto it = Table().find(pid);
    return it == Table().end() ? nullptr : it->second;
}

// Takes the handle out of the table: the caller closes it.
HANDLE Take(int pid) {
    std::lock_guard lock(TableMutex());
    auto it = Table().find(pid);
    if (it == Table().end()) return nullptr;
    HANDLE h = it->second;
    Table().erase(it);
    return h;
}

// One argument as the C runtime of the started program splits its command line again: quoted
// when it holds a blank or a quote, a quote escaped, and backslashes doubled only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') backslashes = backslashes * 2 + 1;
        line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(pid)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// No handles inherited: a program the agent starts never holds its sockets or its port.
bool StartHere(std::wstring& line, PROCESS_INFORMATION& info) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // No console window either: nothing of ours talks to one, and the closing of applications
    // would take it for an application (closing it ends whoever shares it).
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &info) != 0;
}

// A service runs in session 0, whose desktop nobody sees: the warning boxes and the closing of
// applications must happen on the desktop of the user at the console. False when the agent
// is not a service there, or nobody is logged on; the program is then started here.
bool StartOnUserDesktop(std::wstring& line, PROCESS_INFORMATION& info) {
    DWORD ownSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) || ownSession != 0) return false;
    const DWORD console = WTSGetActiveConsoleSessionId();
    HANDLE user = nullptr;
    if (console == 0xFFFFFFFF || !WTSQueryUserToken(console, &user)) return false;
    void* environment = nullptr;
    const bool haveEnvironment = CreateEnvironmentBlock(&environment, user, FALSE) != 0;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    const DWORD flags = CREATE_NO_WINDOW | (haveEnvironment ? CREATE_UNICODE_ENVIRONMENT : 0);
    const bool started = CreateProcessAsUserW(user, nullptr, line.data(), nullptr, nullptr, FALSE,
                                              flags, environment, nullptr, &startup, &info) != 0;
    if (haveEnvironment) DestroyEnvironmentBlock(environment);
    CloseHandle(user);
    return started;
}

}  // namespace

std::filesystem::path FindOutsideProgram(std::string_view name) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path here =
        n > 0 && n < MAX_PATH ? std::filesystem::path(self).parent_path() : std::filesystem::path();
    std::error_code ec;
    for (const auto& dir : {ups::platform::ProgramDirectory(), here}) {
        if (dir.empty()) continue;
        auto candidate = dir / (std::string(name) + ".exe");
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    }
    return {};
}

namespace {

std::optional<int> Start(const std::vector<std::string>& argv, bool onDesktop) {
    if (argv.empty() || argv[0].empty()) return std::nullopt;
    std::wstring line;
    for (const std::string& a : argv) {
        if (!line.empty()) line += L' ';
        AppendQuoted(line, Wide(a));
    }
    PROCESS_INFORMATION info{};
    if (!(onDesktop && StartOnUserDesktop(line, info)) && !StartHere(line, info)) {
        return std::nullopt;
    }
    CloseHandle(info.hThread);
    const int pid = static_cast<int>(info.dwProcessId);
    std::lock_guard lock(TableMutex());
    Table()[pid] = info.hProcess;
    return pid;
}

}  // namespace

std::optional<int> StartProcess(const std::vector<std::string>& argv) {
    return Start(argv, false);
}

std::optional<int> StartOnDesktop(const std::vector<std::string>& argv) {
    return Start(argv, true);
}

int WaitProcess(int pid) {
    HANDLE h = Take(pid);
    if (h == nullptr) return -1;
    WaitForSingleObject(h, INFINITE);
    DWORD code = 0;
    const bool known = GetExitCodeProcess(h, &code) != 0;
    CloseHandle(h);
    return known ? static_cast<int>(code) : -1;
}

bool ProcessEnded(int pid) {
    HANDLE h = Find(pid);
    if (h == nullptr || WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(Take(pid));
    return true;
}

void StopProcess(int pid) {
    HANDLE h = Find(pid);
    if (h == nullptr) return;
    SignalStop(pid, false);
    // A program that does not close its windows within the time is ended.
    if (WaitForSingleObject(h, 2000) != WAIT_OBJECT_0) TerminateProcess(h, 1);
    WaitProcess(pid);
}

void AwaitExit(int pid) {
    if (HANDLE h = Find(pid); h != nullptr) WaitForSingleObject(h, INFINITE);
}

void SignalStop(int pid, bool force) {
    HANDLE h = Find(pid);
    if (h == nullptr) return;
    if (force) {
        TerminateProcess(h, 1);
    } else {
        // What a user's closing of the window does: the program may still save and go.
        EnumWindows(CloseWindowOf, static_cast<LPARAM>(pid));
    }
}

}  // namespace torvane

#endif  // _WIN32
