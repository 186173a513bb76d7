// libcurl's global set-up, done once for the process before the first handle (it is not
// thread-safe in the libcurl versions Debian ships, hence std::call_once).
#pragma once

namespace torvane::watch::notify_detail {

void EnsureCurl();

}  // namespace torvane::watch::notify_detail
