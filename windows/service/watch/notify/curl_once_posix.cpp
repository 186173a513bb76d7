#include "watch/notify/curl_once.h"

#include <curl/curl.h>

#include <mutex>

namespace torvane::watch::notify_detail {

void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace torvane::watch::notify_detail
