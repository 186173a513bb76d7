#include "paths.h"

#include <cstdlib>

namespace kelvora {
namespace {

std::string FromEnv(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : fallback;
}

}  // namespace

std::string RootDir() {
    std::string root = FromEnv("KELVORA_ROOT", "/etc/kelvora");
    // "/x/" and "/x" must give the same queue keys and file names.
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

std::string RootPath(std::string_view name) {
    std::string path = RootDir();
    path += '/';
    path += name;
    return path;
}

std::string UtmpPath() {
    return FromEnv("KELVORA_UTMP", "/var/run/utmp");
}

std::string ConsolePath() {
    return FromEnv("KELVORA_CONSOLE", "/dev/console");
}

}  // namespace kelvora
