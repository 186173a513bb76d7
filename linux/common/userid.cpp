#include "userid.h"

#include <unistd.h>

#include <cstdio>

int ChkUserID() {
    if (getuid() == 0) return 1;
    std::fprintf(stderr, "\nSorry. You must login as super-user to run this program (User ID: ");
    std::fprintf(stderr, "%d", static_cast<int>(getuid()));
    std::fprintf(stderr, ")!!\n");
    return 0;
}
