#include "help_screen.h"

#include <cstdio>

int vornii_help() {
    std::fprintf(stderr, "kelvora: the help screen is not part of this build\n");
    return 0;
}
