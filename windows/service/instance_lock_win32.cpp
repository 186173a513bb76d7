#ifdef _WIN32

#include <windows.h>

#include <cstdint>
#include <string>

#include "instance_lock.h"

namespace torvane {

namespace {

// A kernel object's name may not hold a backslash: the file's path stands in as its hash.
std::wstring NameFor(const std::filesystem::path& file, const wchar_t* space) {
    std::uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : file.wstring()) {
        hash ^= static_cast<std::uint64_t>(towlower(c));
        hash *= 1099511628211ull;
    }
    wchar_t name[64];
    swprintf(name, 64, L"%ls\\Torvane-%016llx", space, static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

// A named mutex rather than the file itself: a file under the program directory can be opened,
// and so held, by any user who may read it, which would keep the agent from starting. Only
// services and administrators may make objects in the Global namespace; an agent run by
// another user in program mode falls back to its own session's.
InstanceLock::InstanceLock(const std::filesystem::path& file) {
    HANDLE h = CreateMutexW(nullptr, FALSE, NameFor(file, L"Global").c_str());
    if (h == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        h = CreateMutexW(nullptr, FALSE, NameFor(file, L"Local").c_str());
    }
    if (h == nullptr) return;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);  // another agent made it
        return;
    }
    handle_ = h;
}

bool InstanceLock::Held() const {
    return handle_ != nullptr;
}

InstanceLock::~InstanceLock() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace torvane

#endif  // _WIN32
