#include "config_screen.h"

#include <cstdio>

int vornii_config() {
    std::fprintf(stderr, "kelvora: the config screen is not part of this build\n");
    return 0;
}
