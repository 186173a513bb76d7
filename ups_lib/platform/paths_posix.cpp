#include <cstdlib>
#include <system_error>

#include "paths.h"

namespace ups::platform {

namespace fs = std::filesystem;

fs::path ProgramDirectory() {
    if (const char* home = std::getenv("TORVANE_HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path(ec);
    return exe.parent_path();
}

fs::path ProgramPath() {
    return ProgramDirectory() / "Torvane.exe";
}

fs::path WindowsDirectory() {
    return ProgramDirectory();
}

}  // namespace ups::platform
