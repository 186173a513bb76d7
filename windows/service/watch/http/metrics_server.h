// The agent's HTTP endpoint (loopback unless told otherwise): GET /metrics in the Prometheus
// text format and GET /status.json. It runs on a thread and io_context of its own and reads only
// the published snapshot.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "watch/ups_snapshot.h"
#include "watch/watch_settings.h"

namespace torvane::watch {

class MetricsServer {
  public:
    explicit MetricsServer(const SnapshotBoard& board);
    // Stops the thread and closes every connection.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds and starts serving; false with the reason when the address cannot be had.
    bool Start(const Listener& where, std::string& problem);
    std::uint16_t Port() const;

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The Prometheus text exposition of the snapshot; `now` in calendar seconds.
std::string MetricsText(const UpsSnapshot& ups, std::int64_t now);

}  // namespace torvane::watch
