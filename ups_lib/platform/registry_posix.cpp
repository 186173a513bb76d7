#include <cstdlib>

#include "registry.h"

namespace ups::platform {

std::unique_ptr<Registry> MakeSystemRegistry() {
    const char* root = std::getenv("TORVANE_REGISTRY");
    return MakeFileRegistry(root != nullptr && *root != '\0' ? root : "/var/lib/torvane/registry");
}

}  // namespace ups::platform
