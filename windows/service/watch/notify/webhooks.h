// Webhooks: every event as an HTTP POST with a JSON body to each configured URL (ntfy, Gotify,
// Home Assistant and chat bridges take this form). The posts go out from a thread for each URL,
// each with a time-out and a few paced retries, so a dead receiver never holds the agent up, nor
// the posts to the other receivers.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "watch/ups_snapshot.h"

namespace torvane::watch {

class Webhooks {
  public:
    struct Options {
        std::chrono::milliseconds timeout = std::chrono::seconds(10);  // per attempt
        int attempts = 3;
        std::chrono::milliseconds retryPause = std::chrono::seconds(5);  // doubled each time
    };
    // What each post did, for the trace and the test command. It may be called from the threads
    // of several URLs at once.
    using Report = std::function<void(const std::string& url, bool ok, const std::string& why)>;

    Webhooks(std::vector<std::string> urls, Options options, Report report);
    // Ends the threads; a post in hand ends early, as failed.
    ~Webhooks();
    Webhooks(const Webhooks&) = delete;
    Webhooks& operator=(const Webhooks&) = delete;

    bool Empty() const;
    // Queues the event for every URL and returns at once. `text`: the warning text of the event.
    void Post(EventKind kind, const std::string& text, const UpsSnapshot& ups);
    // Posts the event to every URL now, on the calling thread; true when all took it.
    bool PostNow(EventKind kind, const std::string& text, const UpsSnapshot& ups);

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The JSON body of one event: {"event", "title", "message", "priority", "host", "time", "ups"}.
std::string WebhookBody(EventKind kind, const std::string& text, const UpsSnapshot& ups,
                        const std::string& host, std::int64_t now);

}  // namespace torvane::watch
