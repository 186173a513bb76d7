// The endpoint is a small HTTP/1.1 server of its own on Asio rather than an HTTP library: the
// agent is cross-built for Windows with mingw, for which Debian has no build of one, and the
// library's server takes a thread per connection with an unbounded queue of accepted sockets,
// where this one serves every client on one thread within fixed caps (http_service.h).
#include "watch/http/metrics_server.h"

#include <ctime>
#include <optional>
#include <thread>

#include "watch/http/http_service.h"
#include "watch/status_json.h"

namespace torvane::watch {

namespace {

constexpr const char* kIndex =
    "Torvane, the Kelvora network agent\n"
    "\n"
    "/metrics      the UPS and the agent in the Prometheus text format\n"
    "/status.json  the UPS as one JSON object\n";

http::Response Route(const SnapshotBoard& board, std::string_view path) {
    if (path == "/metrics") {
        return {200, "text/plain; version=0.0.4; charset=utf-8",
                MetricsText(board.Get(), static_cast<std::int64_t>(std::time(nullptr)))};
    }
    if (path == "/status.json") {
        return {200, "application/json",
                StatusJson(board.Get(), static_cast<std::int64_t>(std::time(nullptr))) + "\n"};
    }
    if (path == "/") return {200, "text/plain; charset=utf-8", kIndex};
    return {404, "text/plain; charset=utf-8", "Not found: try /metrics or /status.json\n"};
}

}  // namespace

class MetricsServer::Impl {
  public:
    explicit Impl(const SnapshotBoard& board)
        : service_(context_, [&board](std::string_view path) { return Route(board, path); }) {}

    ~Impl() {
        if (thread_.joinable()) {
            // Closing on the server's own thread, whose handlers then end, and with them run().
            asio::post(context_, [this] { service_.Close(); });
            work_.reset();
            thread_.join();
        }
    }

    bool Start(const Listener& where, std::string& problem) {
        if (thread_.joinable()) {
            problem = "already serving";
            return false;
        }
        if (!where.enabled) {
            problem = "turned off";
            return false;
        }
        if (!service_.Listen(where.address, where.port, problem)) return false;
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    std::uint16_t Port() const { return service_.Port(); }

  private:
    // run() returns once the stop has left no work. A handler that throws (out of memory)
    // costs that one request, not the endpoint or the agent.
    void Run() {
        for (;;) {
            try {
                context_.run();
                return;
            } catch (...) {
            }
        }
    }

    asio::io_context context_{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_{
        asio::make_work_guard(context_)};
    http::Service service_;
    std::thread thread_;
};

MetricsServer::MetricsServer(const SnapshotBoard& board) : impl_(std::make_unique<Impl>(board)) {}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::Start(const Listener& where, std::string& problem) {
    return impl_->Start(where, problem);
}

std::uint16_t MetricsServer::Port() const {
    return impl_->Port();
}

}  // namespace torvane::watch
