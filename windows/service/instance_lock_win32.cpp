#ifdef _WIN32

#include <windows.h>

#include "instance_lock.h"

namespace torvane {

// The file opened with no sharing at all: a second agent cannot open it while the first runs,
// and the system lets it go when the first ends however it ends. It is created with the
// directory's permissions, which only administrators may change under the program directory.
InstanceLock::InstanceLock(const std::filesystem::path& file) {
    HANDLE h = CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) handle_ = h;
}

bool InstanceLock::Held() const {
    return handle_ != nullptr;
}

InstanceLock::~InstanceLock() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace torvane

#endif  // _WIN32
