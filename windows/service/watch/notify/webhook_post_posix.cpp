// One webhook POST by libcurl: a fresh easy handle per attempt, so that nothing of a failed
// connection carries over to the next.
#include <curl/curl.h>
#include <unistd.h>

#include <memory>

#include "watch/notify/curl_once.h"
#include "watch/notify/notify_detail.h"

namespace torvane::watch::notify_detail {

namespace {

// A receiver's answer is read and thrown away, up to this much: we need its status only, and a
// hostile one must not make us collect without end.
constexpr std::size_t kMaxAnswer = 64 * 1024;

struct Transfer {
    const std::atomic<bool>* stop = nullptr;
    std::size_t received = 0;
};

std::size_t Discard(char*, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->received += size * count;
    if (t->received > kMaxAnswer) return 0;  // ends the transfer as a write error
    return size * count;
}

// Called about once a second and at every chunk: a non-zero answer aborts the transfer.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* t = static_cast<Transfer*>(user);
    return t->stop != nullptr && t->stop->load() ? 1 : 0;
}

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

std::string ThisHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

PostResult PostJson(const std::string& url, const std::string& body,
                    std::chrono::milliseconds timeout, const std::atomic<bool>* stop) {
    EnsureCurl();
    std::unique_ptr<CURL, CurlDeleter> h(curl_easy_init());
    if (!h) return {false, 0, "curl could not start", true};
    std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "Content-Type: application/json"));
    // No "Expect: 100-continue" pause before the body.
    headers.reset(curl_slist_append(headers.release(), "Expect:"));
    Transfer transfer{stop, 0};
    char error[CURL_ERROR_SIZE] = {};
    CURL* c = h.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    // http and https only, also after a redirect: a receiver cannot send us to file:// or the
    // like. Redirects are not followed at all; a webhook URL names its receiver.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // name look-ups must not use SIGALRM in a thread
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Torvane");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);

    const CURLcode code = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_ABORTED_BY_CALLBACK) return {false, status, "stopped", false};
    // An answer too long to read still told its status.
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && status != 0))
        return {false, status, error[0] != '\0' ? error : curl_easy_strerror(code), true};
    const bool ok = status >= 200 && status < 300;
    // A redirect (never followed) or a refusal of the request itself (a wrong path or token)
    // will be answered the same way a few seconds on; a time-out (408), a rate limit (429) and
    // the server's own troubles (5xx) may not.
    const bool retry = !(status >= 300 && status < 500) || status == 408 || status == 429;
    return {ok, status, "HTTP " + std::to_string(status), !ok && retry};
}

}  // namespace torvane::watch::notify_detail
