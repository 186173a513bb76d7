#include <windows.h>

#include <cstdlib>

#include "paths.h"

namespace ups::platform {

namespace fs = std::filesystem;

fs::path ProgramPath() {
    wchar_t buf[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    const fs::path own = (n == 0 || n == MAX_PATH) ? fs::path(L"Torvane.exe") : fs::path(buf);
    if (const char* home = std::getenv("TORVANE_HOME"); home != nullptr && *home != '\0') {
        return fs::path(home) / own.filename();
    }
    return own;
}

fs::path ProgramDirectory() {
    return ProgramPath().parent_path();
}

fs::path WindowsDirectory() {
    wchar_t buf[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return fs::path(L"C:\\Windows");
    return fs::path(buf);
}

}  // namespace ups::platform
