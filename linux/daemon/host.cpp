#include "host.h"

#include <sys/utsname.h>

namespace {
std::string g_host_name;
}

void SetHostName() {
    struct utsname names {};
    if (uname(&names) == 0) g_host_name = names.nodename;
}

const std::string& HostName() {
    return g_host_name;
}
