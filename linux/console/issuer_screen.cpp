#include "issuer_screen.h"

#include <cstdio>

int vornii_issuer() {
    std::fprintf(stderr, "kelvora: the issuer screen is not part of this build\n");
    return 0;
}
