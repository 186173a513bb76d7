// The sockets of the NUT server. Every peer is taken to be hostile: its lines, its connections,
// the replies it leaves unread and its password guesses are all bounded, and nothing it does can
// block the server's thread, which is the only one that touches the sockets and the sessions.
#include "watch/nut/nut_server.h"

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "watch/nut/nut_protocol.h"
#include "watch/tcp_listen.h"

namespace torvane::watch {

namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxConnections = NutServer::kMaxConnections;
constexpr std::size_t kMaxPerAddress = NutServer::kMaxPerAddress;
// When all places are taken, a newcomer from an address that holds fewer of them than another
// takes the place that other address used least lately: a few addresses that fill the server
// cannot keep a machine that shares the UPS from reaching it, while one connection of each
// address is never given up for another's.
// upsmon polls every few seconds and Home Assistant every minute: ten minutes of silence is a
// client that has gone without saying so.
constexpr auto kIdleTime = 10min;
// Replies a client has not read. LIST VAR, the longest, is under 2 KiB.
constexpr std::size_t kMaxUnread = 64 * 1024;
// How long a last reply (to LOGOUT, to a line too long) may take to leave before the
// connection is cut anyway.
constexpr auto kCloseGrace = 5s;
// Between two tries to accept when accepting fails (out of descriptors, say): the waiting
// connection stays in the backlog, and retrying at once would spin.
constexpr auto kAcceptRetry = 100ms;
// Password guessing: the first refusals of PRIMARY, MASTER or FSD from an address are answered
// at once; after them, that address gets one refusal a second, whatever number of connections it
// spreads its guesses over, each waiting connection reading nothing meanwhile (so no reply waits
// longer than one second per connection there is room for). An address is forgotten ten minutes
// after its last refusal, or when it is granted the primary's part.
constexpr int kFreeRefusals = 3;
constexpr auto kRefusalPause = 1s;
// The free refusals of all addresses together: a burst of this many, then one more a second.
// Whoever holds many addresses (a local user has all of 127.0.0.0/8, a host on the network a
// whole IPv6 /64) would otherwise guess at the speed of connecting, three guesses an address;
// past this budget every refusal waits its turn at one a second in all.
constexpr int kFreeRefusalsInAll = 16;
constexpr auto kRefusalMemory = 10min;
constexpr std::size_t kRefusalAddresses = 256;

constexpr std::size_t kReadChunk = 1024;

// The refusals of the primary's part per address, kept for a while and bounded in number.
class Refusals {
  public:
    // Counts a refusal; gives how long its reply is to wait (zero: not at all).
    Clock::duration Note(const std::string& address, Clock::time_point now) {
        auto it = entries_.find(address);
        if (it != entries_.end() && now - it->second.last > kRefusalMemory) {
            entries_.erase(it);
            it = entries_.end();
        }
        if (it == entries_.end()) {
            if (entries_.size() >= kRefusalAddresses) DropOldest();
            it = entries_.emplace(address, Entry{}).first;
        }
        Entry& e = it->second;
        e.last = now;
        if (e.count < kFreeRefusals) {
            ++e.count;
            if (TakeFree(now)) return Clock::duration::zero();
            // Free for the address, but not in all: it waits for the next second of all.
            allSlot_ = std::max(allSlot_, now) + kRefusalPause;
            return allSlot_ - now;
        }
        // The next free second after the replies already waiting from there.
        e.slot = std::max(e.slot, now) + kRefusalPause;
        return e.slot - now;
    }
    void Forget(const std::string& address) { entries_.erase(address); }

  private:
    struct Entry {
        int count = 0;
        Clock::time_point last;
        Clock::time_point slot;  // when the latest waiting reply goes
    };
    // One of the free refusals in all, the budget refilled by one a pause up to its size.
    bool TakeFree(Clock::time_point now) {
        if (!started_) {
            started_ = true;
            refilled_ = now;
        }
        const auto earned = (now - refilled_) / kRefusalPause;
        if (earned > 0) {
            freeInAll_ = static_cast<int>(std::min<long long>(
                kFreeRefusalsInAll, freeInAll_ + static_cast<long long>(earned)));
            refilled_ += earned * kRefusalPause;
        }
        if (freeInAll_ == kFreeRefusalsInAll) refilled_ = now;
        if (freeInAll_ == 0) return false;
        --freeInAll_;
        return true;
    }
    void DropOldest() {
        auto oldest = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->second.last < oldest->second.last) oldest = it;
        }
        if (oldest != entries_.end()) entries_.erase(oldest);
    }
    std::map<std::string, Entry> entries_;
    int freeInAll_ = kFreeRefusalsInAll;
    bool started_ = false;
    Clock::time_point refilled_;  // the budget is counted from here
    Clock::time_point allSlot_;   // when the latest reply waiting for the budget goes
};

// An IPv4 client seen through an IPv6 socket counts as its IPv4 address.
std::string AddressText(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

}  // namespace

class NutServer::Impl {
  public:
    Impl(const SnapshotBoard& board, NutAccess access, std::function<void()> onFsd)
        : board_(board), access_(std::move(access)), onFsd_(std::move(onFsd)) {}

    ~Impl() {
        if (!thread_.joinable()) return;
        asio::post(io_, [this] { CloseAll(); });
        thread_.join();
    }

    bool Start(const Listener& where, std::string& problem);
    std::uint16_t Port() const { return port_.load(); }
    int Logins() const { return logins_.load(); }

  private:
    class Connection;

    void Run();
    void Accept();
    void OnAccept(const asio::error_code& error, tcp::socket socket);
    void CloseAll();
    void Forget(Connection* connection, const std::string& address);
    void MakeRoomFor(std::size_t newcomersOwn);
    std::vector<std::string> LoggedInAddresses() const;

    const SnapshotBoard& board_;
    const NutAccess access_;
    const std::function<void()> onFsd_;

    asio::io_context io_;
    tcp::acceptor acceptor_{io_};
    asio::steady_timer acceptRetry_{io_};
    std::map<Connection*, std::shared_ptr<Connection>> connections_;
    std::map<std::string, std::size_t> perAddress_;
    Refusals refusals_;
    bool stopping_ = false;

    std::atomic<int> logins_{0};
    std::atomic<std::uint16_t> port_{0};
    std::thread thread_;
};

// One client: its session, its line buffer and the replies on their way to it.
class NutServer::Impl::Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(Impl& server, tcp::socket socket, std::string address)
        : server_(server),
          socket_(std::move(socket)),
          idle_(socket_.get_executor()),
          pause_(socket_.get_executor()),
          address_(std::move(address)) {}

    void Start() {
        ArmTimer(kIdleTime);
        Read();
    }

    // Idempotent; the pending handlers end with errors and keep the object alive until then.
    void Close() {
        if (closed_) return;
        closed_ = true;
        asio::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        idle_.cancel();
        pause_.cancel();
        DropLogin();
        server_.Forget(this, address_);
    }

    bool LoggedIn() const { return session_.loggedIn; }
    const std::string& Address() const { return address_; }
    Clock::time_point LastHeard() const { return lastHeard_; }

  private:
    void Read() {
        if (reading_ || closed_ || closing_ || paused_) return;
        reading_ = true;
        socket_.async_read_some(
            asio::buffer(chunk_),
            [self = shared_from_this()](const asio::error_code& error, std::size_t n) {
                self->reading_ = false;
                self->OnRead(error, n);
            });
    }

    void OnRead(const asio::error_code& error, std::size_t n) {
        if (closed_) return;
        if (error == asio::error::eof) {
            // The client has said all it will: what is owed to it still leaves.
            FinishAndClose();
            return;
        }
        if (error) {
            Close();
            return;
        }
        input_.append(chunk_.data(), n);
        lastHeard_ = Clock::now();
        ArmTimer(kIdleTime);
        ProcessLines();
        Read();
    }

    void ProcessLines() {
        while (!closed_ && !closing_ && !paused_) {
            const std::size_t end = input_.find('\n');
            if (end == std::string::npos) {
                // A line with no end yet may still be one too long.
                const std::size_t body = input_.size() - (input_.ends_with('\r') ? 1 : 0);
                if (body > nut::kMaxLine) RefuseLongLine();
                return;
            }
            std::string line = input_.substr(0, end);
            input_.erase(0, end + 1);
            if (line.ends_with('\r')) line.pop_back();
            if (line.size() > nut::kMaxLine) {
                RefuseLongLine();
                return;
            }
            Handle(line);
        }
    }

    void Handle(const std::string& line) {
        const UpsSnapshot snapshot = server_.board_.Get();
        const std::vector<std::string> clients = server_.LoggedInAddresses();
        const nut::Context context{snapshot, server_.access_, server_.logins_.load(), &clients};
        const bool wasLoggedIn = session_.loggedIn;
        const bool wasPrimary = session_.primary;
        nut::Result result = nut::HandleLine(session_, line, context);
        if (session_.loggedIn != wasLoggedIn) server_.logins_ += session_.loggedIn ? 1 : -1;
        if (session_.primary && !wasPrimary) server_.refusals_.Forget(address_);
        if (result.fsd && server_.onFsd_) server_.onFsd_();
        if (result.close) closing_ = true;
        if (result.deniedAuth) {
            const Clock::duration wait = server_.refusals_.Note(address_, Clock::now());
            if (wait > Clock::duration::zero()) {
                PauseThenSend(std::move(result.reply), wait);
                return;
            }
        }
        Send(std::move(result.reply));
    }

    void RefuseLongLine() {
        input_.clear();
        closing_ = true;
        Send("ERR INVALID-ARGUMENT\n");
    }

    void PauseThenSend(std::string reply, Clock::duration wait) {
        paused_ = true;
        pause_.expires_after(wait);
        pause_.async_wait([self = shared_from_this(),
                           reply = std::move(reply)](const asio::error_code& error) mutable {
            if (error || self->closed_) return;
            self->paused_ = false;
            self->Send(std::move(reply));
            self->ProcessLines();
            self->Read();
        });
    }

    void Send(std::string text) {
        if (closed_) return;
        queued_ += text;
        if (writing_.size() + queued_.size() > kMaxUnread) {
            // It does not read what it asks for: it only costs memory.
            Close();
            return;
        }
        if (closing_) ArmTimer(kCloseGrace);
        Flush();
    }

    void Flush() {
        if (closed_ || !writing_.empty() || queued_.empty()) return;
        writing_.swap(queued_);
        asio::async_write(socket_, asio::buffer(writing_),
                          [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                              self->OnWritten(error);
                          });
    }

    void OnWritten(const asio::error_code& error) {
        if (closed_) return;
        if (error) {
            Close();
            return;
        }
        writing_.clear();
        if (!queued_.empty()) {
            Flush();
        } else if (closing_) {
            Close();
        }
    }

    void FinishAndClose() {
        closing_ = true;
        if (writing_.empty() && queued_.empty()) {
            Close();
        } else {
            ArmTimer(kCloseGrace);
        }
    }

    // One timer serves both the idle limit and the grace of a closing connection.
    void ArmTimer(Clock::duration after) {
        idle_.expires_after(after);
        idle_.async_wait([self = shared_from_this()](const asio::error_code& error) {
            // A wait that had already ended when the timer was set again is not cancelled:
            // the new time decides.
            if (!error && self->idle_.expiry() <= Clock::now()) self->Close();
        });
    }

    void DropLogin() {
        if (!session_.loggedIn) return;
        session_.loggedIn = false;
        --server_.logins_;
    }

    Impl& server_;
    tcp::socket socket_;
    asio::steady_timer idle_;
    asio::steady_timer pause_;
    const std::string address_;
    nut::Session session_;
    Clock::time_point lastHeard_ = Clock::now();

    std::array<char, kReadChunk> chunk_{};
    std::string input_;    // at most a line and a chunk
    std::string writing_;  // on its way
    std::string queued_;   // after it
    bool reading_ = false;
    bool paused_ = false;   // a refused guess waits before its reply
    bool closing_ = false;  // closed once the replies are out
    bool closed_ = false;
};

bool NutServer::Impl::Start(const Listener& where, std::string& problem) {
    if (thread_.joinable()) {
        problem = "the NUT server is already running";
        return false;
    }
    if (!where.enabled) {
        problem = "the NUT server is turned off";
        return false;
    }
    if (!OpenListener(acceptor_, where.address, where.port,
                      asio::socket_base::max_listen_connections, problem))
        return false;
    asio::error_code error;
    port_ = acceptor_.local_endpoint(error).port();
    Accept();
    thread_ = std::thread([this] { Run(); });
    return true;
}

void NutServer::Impl::Run() {
    // run() returns once CloseAll has left no work. A handler that throws (out of memory) costs
    // that one event, not the server.
    for (;;) {
        try {
            io_.run();
            return;
        } catch (...) {
        }
    }
}

void NutServer::Impl::Accept() {
    acceptor_.async_accept([this](const asio::error_code& error, tcp::socket socket) {
        OnAccept(error, std::move(socket));
    });
}

void NutServer::Impl::OnAccept(const asio::error_code& error, tcp::socket socket) {
    if (stopping_ || error == asio::error::operation_aborted) return;
    if (error) {
        acceptRetry_.expires_after(kAcceptRetry);
        acceptRetry_.async_wait([this](const asio::error_code& e) {
            if (!e && !stopping_) Accept();
        });
        return;
    }
    asio::error_code peerError;
    const tcp::endpoint peer = socket.remote_endpoint(peerError);
    if (!peerError) {
        std::string address = AddressText(peer.address());
        std::size_t& fromThere = perAddress_[address];
        if (connections_.size() >= kMaxConnections && fromThere < kMaxPerAddress) {
            MakeRoomFor(fromThere);
        }
        if (connections_.size() < kMaxConnections && fromThere < kMaxPerAddress) {
            ++fromThere;
            auto connection =
                std::make_shared<Connection>(*this, std::move(socket), std::move(address));
            connections_.emplace(connection.get(), connection);
            connection->Start();
        } else if (fromThere == 0) {
            perAddress_.erase(address);
        }
    }
    // A refused socket is closed as it goes out of scope.
    Accept();
}

void NutServer::Impl::MakeRoomFor(std::size_t newcomersOwn) {
    const auto most =
        std::max_element(perAddress_.begin(), perAddress_.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    // Only an address with more than the newcomer would then have gives a place up.
    if (most == perAddress_.end() || most->second <= newcomersOwn + 1) return;
    const std::string crowded = most->first;
    Connection* quietest = nullptr;
    for (const auto& entry : connections_) {
        Connection* c = entry.first;
        if (c->Address() != crowded) continue;
        if (quietest == nullptr || c->LastHeard() < quietest->LastHeard()) quietest = c;
    }
    // Close() forgets it, and its place with it; the shared pointer its handlers hold keeps the
    // object until they have ended.
    if (quietest != nullptr) {
        const std::shared_ptr<Connection> keep = connections_.at(quietest);
        keep->Close();
    }
}

void NutServer::Impl::Forget(Connection* connection, const std::string& address) {
    if (connections_.erase(connection) == 0) return;
    const auto it = perAddress_.find(address);
    if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
}

void NutServer::Impl::CloseAll() {
    stopping_ = true;
    asio::error_code ignored;
    acceptor_.close(ignored);
    acceptRetry_.cancel();
    auto all = std::move(connections_);
    connections_.clear();
    perAddress_.clear();
    for (auto& entry : all) entry.second->Close();
}

std::vector<std::string> NutServer::Impl::LoggedInAddresses() const {
    std::vector<std::string> out;
    for (const auto& entry : connections_) {
        if (entry.second->LoggedIn()) out.push_back(entry.second->Address());
    }
    return out;
}

NutServer::NutServer(const SnapshotBoard& board, NutAccess access, std::function<void()> onFsd)
    : impl_(std::make_unique<Impl>(board, std::move(access), std::move(onFsd))) {}

NutServer::~NutServer() = default;

bool NutServer::Start(const Listener& where, std::string& problem) {
    return impl_->Start(where, problem);
}

std::uint16_t NutServer::Port() const {
    return impl_->Port();
}

int NutServer::Logins() const {
    return impl_->Logins();
}

}  // namespace torvane::watch
