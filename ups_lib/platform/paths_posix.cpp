#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "paths.h"

namespace ups::platform {

namespace fs = std::filesystem;

namespace {

#ifndef KELVORA_INSTALL_PREFIX
#define KELVORA_INSTALL_PREFIX "/usr"
#endif

// An installed agent and its tools (/usr/lib/torvane, /usr/sbin) keep their files where the
// system keeps programs' state, not beside the programs.
constexpr std::string_view kInstallPrefix = KELVORA_INSTALL_PREFIX;
constexpr std::string_view kStateDirectory = "/var/lib/torvane";

bool IsInstalledDirectory(const fs::path& dir) {
    const fs::path prefix{std::string(kInstallPrefix)};
    return dir == prefix / "lib" / "torvane" || dir == prefix / "sbin";
}

}  // namespace

fs::path ProgramDirectory() {
    if (const char* home = std::getenv("TORVANE_HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path(ec);
    if (IsInstalledDirectory(exe.parent_path())) return fs::path(std::string(kStateDirectory));
    return exe.parent_path();
}

fs::path ProgramPath() {
    return ProgramDirectory() / "Torvane.exe";
}

fs::path WindowsDirectory() {
    return ProgramDirectory();
}

}  // namespace ups::platform
