#include "watch/http/http_service.h"

#include "watch/http/http_request.h"
#include "watch/tcp_listen.h"

namespace torvane::watch::http {

struct Service::Connection {
    Connection(asio::io_context& context, std::uint64_t id_)
        : id(id_), socket(context), timer(context) {}
    std::uint64_t id;
    asio::ip::tcp::socket socket;
    asio::steady_timer timer;  // the idle deadline, then the lingering close
    std::string address;       // the peer's, for the cap per address
    std::string in;            // received and not yet answered
    std::size_t scanned = 0;   // how far the parser looked for the end of the head in `in`
    std::deque<std::string> out;
    std::size_t pending = 0;  // bytes in `out`
    std::size_t served = 0;
    bool reading = false;    // a wait for its bytes is under way
    bool writing = false;    // an answer is on its way
    bool closing = false;    // nothing more is answered; closed once `out` is sent
    bool lingering = false;  // our side is shut; its last bytes are read and dropped
    bool peerDone = false;   // it has closed its side
};

namespace {

// The one answer whatever the method: a body only for GET, its length for HEAD too.
std::string Serialize(int status, const std::string& type, const std::string& body, bool head,
                      bool keep, bool allow) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + std::string(Reason(status)) +
                       "\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: " + (keep ? "keep-alive" : "close") +
                       "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    if (allow) text += "Allow: GET, HEAD\r\n";
    text += "\r\n";
    if (!head) text += body;
    return text;
}

std::string ErrorBody(int status) {
    return std::string(Reason(status)) + "\n";
}

}  // namespace

std::string_view Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Unknown";
    }
}

Service::Service(asio::io_context& context, Handler handler, Limits limits)
    : context_(context),
      handler_(std::move(handler)),
      limits_(limits),
      acceptor_(context),
      acceptRetry_(context) {}

Service::~Service() {
    Close();
    alive_.reset();
}

bool Service::Listen(const std::string& address, std::uint16_t port, std::string& problem) {
    // Room for a burst of scrapers connecting at once; the kernel bounds it in any case.
    if (!watch::OpenListener(acceptor_, address, port, 128, problem)) return false;
    std::error_code ec;
    port_ = acceptor_.local_endpoint(ec).port();
    Accept();
    return true;
}

void Service::Close() {
    std::error_code ignored;
    acceptor_.close(ignored);
    acceptRetry_.cancel();
    while (!connections_.empty()) Drop(connections_.begin()->second);
}

void Service::Accept() {
    auto c = std::make_shared<Connection>(context_, nextId_++);
    std::weak_ptr<bool> alive = alive_;
    acceptor_.async_accept(c->socket, [this, c, alive](const std::error_code& ec) {
        if (alive.expired() || ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (!ec || ec == asio::error::connection_aborted) {
            // A client that gave up before its turn costs nobody else a pause.
            if (!ec) Admit(c);
            Accept();
            return;
        }
        acceptRetry_.expires_after(limits_.acceptRetry);
        acceptRetry_.async_wait([this, alive](const std::error_code& e) {
            if (!alive.expired() && !e && acceptor_.is_open()) Accept();
        });
    });
}

void Service::Admit(const Pointer& c) {
    std::error_code e;
    const auto remote = c->socket.remote_endpoint(e);
    if (!e) c->address = remote.address().to_string();
    if (e || connections_.size() >= limits_.maxConnections ||
        perAddress_[c->address] >= limits_.maxPerAddress) {
        if (!e && perAddress_[c->address] == 0) perAddress_.erase(c->address);
        std::error_code ignored;
        c->socket.close(ignored);
        return;
    }
    // Read only when something has come: no buffer waits per idle connection.
    c->socket.non_blocking(true, e);
    c->socket.set_option(asio::ip::tcp::no_delay(true), e);
    connections_[c->id] = c;
    ++perAddress_[c->address];
    Arm(c, limits_.idle);
    Read(c);
}

void Service::Read(const Pointer& c) {
    if (c->reading || c->closing || c->peerDone || c->pending >= limits_.pauseReading ||
        !connections_.count(c->id))
        return;
    c->reading = true;
    std::weak_ptr<bool> alive = alive_;
    c->socket.async_wait(asio::ip::tcp::socket::wait_read,
                         [this, c, alive](const std::error_code& ec) {
                             if (alive.expired() || !connections_.count(c->id)) return;
                             c->reading = false;
                             std::error_code rec = ec;
                             std::size_t n = 0;
                             if (!rec) n = c->socket.read_some(asio::buffer(readBuffer_), rec);
                             if (rec == asio::error::would_block || rec == asio::error::try_again) {
                                 Read(c);
                                 return;
                             }
                             if (rec == asio::error::eof) {
                                 // Asked and closed its side, as a script may: the answers still go
                                 // out.
                                 c->peerDone = true;
                             } else if (rec) {
                                 Drop(c);
                                 return;
                             } else {
                                 c->in.append(readBuffer_, 0, n);
                             }
                             Answer(c);
                             Read(c);
                         });
}

void Service::Answer(const Pointer& c) {
    if (!connections_.count(c->id)) return;
    while (!c->closing && c->pending < limits_.pauseReading) {
        const auto parsed = ParseRequest(c->in, limits_.maxHead, limits_.maxHeaders, c->scanned);
        if (parsed.result == Parse::kNeedMore) {
            // What is left of a request the client will never finish is not waited for.
            if (c->peerDone) c->closing = true;
            break;
        }
        if (parsed.result == Parse::kError) {
            Queue(c, Serialize(parsed.status, "text/plain; charset=utf-8", ErrorBody(parsed.status),
                               false, false, false));
            c->closing = true;
            break;
        }
        c->in.erase(0, parsed.consumed);
        c->scanned = 0;
        const Request& request = parsed.request;
        ++c->served;
        // A body is never read: the connection cannot tell where the next request starts, so
        // it closes after the answer.
        bool keep = request.keepAlive && !request.hasBody && c->served < limits_.maxRequests;
        const bool head = request.method == "HEAD";
        if (request.method != "GET" && !head) {
            Queue(c,
                  Serialize(405, "text/plain; charset=utf-8", ErrorBody(405), false, keep, true));
        } else if (request.hasBody) {
            Queue(c, Serialize(400, "text/plain; charset=utf-8", "A GET has no body.\n", head,
                               false, false));
        } else {
            Response response;
            try {
                response = handler_(request.path);
            } catch (const std::exception&) {
                response = Response{500, "text/plain; charset=utf-8", ErrorBody(500)};
                keep = false;
            }
            Queue(c, Serialize(response.status, response.contentType, response.body, head, keep,
                               false));
        }
        if (!keep) c->closing = true;
    }
    if (c->closing) {
        c->in.clear();
        if (c->out.empty() && !c->writing) Linger(c);
    }
}

void Service::Queue(const Pointer& c, std::string bytes) {
    c->pending += bytes.size();
    c->out.push_back(std::move(bytes));
    if (!c->writing) Write(c);
}

void Service::Write(const Pointer& c) {
    c->writing = true;
    std::weak_ptr<bool> alive = alive_;
    asio::async_write(c->socket, asio::buffer(c->out.front()),
                      [this, c, alive](const std::error_code& ec, std::size_t) {
                          if (alive.expired() || !connections_.count(c->id)) return;
                          c->writing = false;
                          if (ec) {
                              Drop(c);
                              return;
                          }
                          c->pending -= c->out.front().size();
                          c->out.pop_front();
                          // An answer taken is progress: the client has its time afresh.
                          Arm(c, limits_.idle);
                          if (!c->out.empty()) {
                              Write(c);
                          } else if (c->closing) {
                              Linger(c);
                          } else {
                              Answer(c);  // what waited while its answers piled up
                              Read(c);
                          }
                      });
}

void Service::Arm(const Pointer& c, std::chrono::milliseconds time) {
    std::weak_ptr<bool> alive = alive_;
    c->timer.expires_after(time);
    c->timer.async_wait([this, c, alive](const std::error_code& e) {
        if (alive.expired() || e || !connections_.count(c->id)) return;
        // A wait that had already ended when the deadline moved on.
        if (c->timer.expiry() > asio::steady_timer::clock_type::now()) return;
        Drop(c);
    });
}

void Service::Linger(const Pointer& c) {
    if (c->lingering || !connections_.count(c->id)) return;
    c->lingering = true;
    std::error_code ignored;
    c->socket.shutdown(asio::socket_base::shutdown_send, ignored);
    if (c->peerDone) {
        Drop(c);
        return;
    }
    Arm(c, limits_.linger);
    Drain(c);
}

void Service::Drain(const Pointer& c) {
    std::weak_ptr<bool> alive = alive_;
    c->socket.async_wait(
        asio::ip::tcp::socket::wait_read, [this, c, alive](const std::error_code& ec) {
            if (alive.expired() || !connections_.count(c->id)) return;
            std::error_code rec = ec;
            if (!rec) c->socket.read_some(asio::buffer(readBuffer_), rec);
            if (rec && rec != asio::error::would_block && rec != asio::error::try_again) {
                Drop(c);  // the end of what it sent, or the deadline
                return;
            }
            Drain(c);
        });
}

void Service::Drop(const Pointer& connection) {
    // A copy: `connection` may be the map's own pointer, gone with the erase below.
    const Pointer c = connection;
    auto it = connections_.find(c->id);
    if (it == connections_.end()) return;
    std::error_code ignored;
    c->timer.cancel();
    c->socket.shutdown(asio::socket_base::shutdown_both, ignored);
    c->socket.close(ignored);
    connections_.erase(it);
    if (auto a = perAddress_.find(c->address); a != perAddress_.end() && --a->second == 0)
        perAddress_.erase(a);
}

}  // namespace torvane::watch::http
