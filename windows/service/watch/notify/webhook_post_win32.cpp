// The Windows build has no HTTP client for the webhooks (Debian's cross compiler comes without
// libcurl): every post fails and says why, rather than looking as if it went out.
#include <windows.h>

#include "watch/notify/notify_detail.h"

namespace torvane::watch::notify_detail {

std::string ThisHostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0) return "localhost";
    return std::string(name, size);
}

PostResult PostJson(const std::string&, const std::string&, std::chrono::milliseconds,
                    const std::atomic<bool>*) {
    return {false, 0, "webhooks are not available in the Windows build", false};
}

}  // namespace torvane::watch::notify_detail
