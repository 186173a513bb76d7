#include "client_link.h"

#include "watch/tcp_listen.h"

#include <algorithm>
#include <array>

#include "peer_owner.h"
#include "ups_lib/trace.h"
#include "watch/tcp_listen.h"

namespace torvane {

using ups::link::DecodeStatus;
using ups::link::Direction;

namespace {

// As long whichever the two are and wherever they differ: the time of the answer tells a
// guesser nothing about how close the guess came.
bool SamePassword(std::string_view a, std::string_view b) {
    unsigned diff = a.size() != b.size() ? 1u : 0u;
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
        const auto y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
        diff |= x ^ y;
    }
    return diff == 0;
}

// What a client without the password may not do: change a record, clear a log, command the UPS
// or shut the machine down.
bool Changes(std::int32_t code) {
    using namespace ups::link;
    switch (code) {
        case kConfig:
        case kMsgTab:
        case kClearEventLog:
        case kSchedule:
        case kClearDataLog:
        case kToggleBeeper:
        case kTest10s:
        case kTestToLow:
        case kTestMinutes:
        case kCancelTest:
        case kCloseAndShutDown:
            return true;
        default:
            return false;
    }
}

}  // namespace

struct CClientLink::Client {
    explicit Client(asio::io_context& context, ClientId id_)
        : id(id_), socket(context), deadline(context), stall(context) {}
    ClientId id;
    asio::ip::tcp::socket socket;
    asio::steady_timer deadline;   // to log on, and then to take the last messages when closing
    asio::steady_timer stall;      // to take some of what waits for it (kWriteStall)
    std::vector<std::uint8_t> in;  // what has come of a message not yet whole
    std::string address;           // the peer's, for the password attempts
    bool administrator = false;    // root or the agent's own user on this machine
    bool readOnly = false;         // logged on without a password, and not an administrator
    bool reading = false;          // a wait for its bytes is under way
    bool consumeQueued = false;    // the rest of its messages wait for their turn
    bool peerDone = false;         // it has sent all it will (closed its side)
    std::deque<std::vector<std::uint8_t>> out;
    std::size_t pending = 0;
    bool writing = false;
    bool loggedOn = false;
    bool closing = false;  // the last message is on its way; nothing more is read
};

CClientLink::CClientLink(asio::io_context& context, LinkOwner& owner,
                         std::chrono::milliseconds writeStall)
    : context_(context),
      owner_(owner),
      acceptor_(context),
      acceptRetry_(context),
      writeStall_(writeStall) {}

CClientLink::~CClientLink() {
    *alive_ = false;
    DropAll();
    std::error_code ignored;
    acceptor_.close(ignored);
    acceptRetry_.cancel();
}

bool CClientLink::Listen(const std::string& address, std::uint16_t port, std::string& problem) {
    if (!watch::OpenListener(acceptor_, address, port, 5, problem)) return false;
    ups::Trace("Success socket listen\n");
    Accept();
    return true;
}

std::uint16_t CClientLink::Port() const {
    std::error_code ec;
    const auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void CClientLink::Accept() {
    auto client = std::make_shared<Client>(context_, nextId_++);
    std::weak_ptr<bool> alive = alive_;
    acceptor_.async_accept(client->socket, [this, client, alive](const std::error_code& ec) {
        if (alive.expired()) return;
        if (ec == asio::error::operation_aborted) return;
        if (!ec) {
            Admit(client);
            Accept();
            return;
        }
        // Out of descriptors or memory: accepting again at once would spin.
        acceptRetry_.expires_after(std::chrono::seconds(1));
        acceptRetry_.async_wait([this, alive](const std::error_code& e) {
            if (!alive.expired() && !e) Accept();
        });
    });
}

void CClientLink::Admit(const std::shared_ptr<Client>& client) {
    std::error_code e;
    const auto remote = client->socket.remote_endpoint(e).address();
    client->address = remote.to_string();
    // One address may not take every place, nor fill them with connections that never log on.
    std::size_t fromThere = 0;
    std::size_t waiting = 0;
    for (const auto& [id, other] : clients_) {
        if (other->address != client->address) continue;
        ++fromThere;
        if (!other->loggedOn) ++waiting;
    }
    if (e || clients_.size() >= kMaxClients || fromThere >= kMaxPerAddress ||
        waiting >= kMaxWaitingPerAddress) {
        std::error_code ignored;
        client->socket.close(ignored);
        return;
    }
    // Read only when something has come (Read): no buffer waits per client.
    client->socket.non_blocking(true, e);
    clients_[client->id] = client;
    ups::Trace("Client socket has  " + std::to_string(clients_.size()) + "\n");
    client->administrator = PeerIsAdministrator(client->socket);
    DropAfter(client, kLogonTime);
    Read(client);
}

void CClientLink::Read(const std::shared_ptr<Client>& client) {
    // Not while it has a lot waiting unread, nor while its last messages wait for their turn:
    // a client that only asks and never reads would otherwise pile replies up without end.
    if (client->reading || client->closing || client->consumeQueued || client->peerDone ||
        client->pending > kPauseReading || !clients_.count(client->id))
        return;
    client->reading = true;
    std::weak_ptr<bool> alive = alive_;
    client->socket.async_wait(
        asio::ip::tcp::socket::wait_read, [this, client, alive](const std::error_code& ec) {
            if (alive.expired() || !clients_.count(client->id)) return;
            client->reading = false;
            std::error_code rec = ec;
            std::size_t n = 0;
            if (!rec) n = client->socket.read_some(asio::buffer(readBuffer_), rec);
            if (rec == asio::error::would_block || rec == asio::error::try_again) {
                Read(client);
                return;
            }
            if (rec == asio::error::eof && client->loggedOn) {
                // Asked and closed its side, as a script does: its answers still go out, for
                // a while.
                client->peerDone = true;
                DropAfter(client, kCloseTime * 5);
                FinishIfDone(client);
                return;
            }
            if (rec) {
                ups::Trace("CClientSocket CFileException exception\n");
                Drop(client->id);
                return;
            }
            client->in.insert(client->in.end(), readBuffer_.begin(),
                              readBuffer_.begin() + static_cast<std::ptrdiff_t>(n));
            Consume(client);
            Read(client);
        });
}

void CClientLink::FinishIfDone(const std::shared_ptr<Client>& client) {
    if (client->peerDone && !client->writing && client->out.empty() && !client->consumeQueued &&
        clients_.count(client->id))
        Drop(client->id);
}

bool CClientLink::Screen(const Client& client, std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4) return true;
    auto word = [&](std::size_t at, std::size_t n) {
        std::uint32_t v = 0;
        for (std::size_t i = n; i-- > 0;) v = v << 8 | bytes[at + i];
        return v;
    };
    const auto code = static_cast<std::int32_t>(word(0, 4));
    // Before the password only the password or a goodbye; whatever else a stranger sends is
    // not worth decoding.
    if (!client.loggedOn && code != ups::link::kPassword && code != ups::link::kGoodbye)
        return false;
    if (code == ups::link::kPassword && bytes.size() >= 5) {
        std::uint32_t length = bytes[4];
        if (length == 0xFF) {
            if (bytes.size() < 7) return true;
            length = word(5, 2);
            if (length == 0xFFFF) {
                if (bytes.size() < 11) return true;
                length = word(7, 4);
            }
        }
        if (length > kMaxPassword) return false;
    }
    return true;
}

void CClientLink::Consume(const std::shared_ptr<Client>& client) {
    std::size_t used = 0;
    int handled = 0;
    while (clients_.count(client->id) && !client->closing && used < client->in.size()) {
        if (handled++ == kMessagesPerTurn) {
            // The rest after whatever else waits on this thread: the UPS comes first.
            client->consumeQueued = true;
            std::weak_ptr<bool> alive = alive_;
            asio::post(context_, [this, client, alive] {
                if (alive.expired() || !clients_.count(client->id)) return;
                client->consumeQueued = false;
                Consume(client);
                Read(client);
                FinishIfDone(client);
            });
            break;
        }
        if (!Screen(*client, std::span(client->in).subspan(used))) {
            ups::Trace("Client dropped: a message it may not send\n");
            Drop(client->id);
            return;
        }
        ups::link::Message message;
        std::size_t consumed = 0;
        const auto status = ups::link::Decode(
            Direction::ToAgent, std::span(client->in).subspan(used), message, consumed);
        if (status == DecodeStatus::NeedMore) break;
        if (status == DecodeStatus::Bad) {
            ups::Trace("CClientSocket CArchiveException exception\n");
            Drop(client->id);
            return;
        }
        used += consumed;
        if (message.code == ups::link::kPassword) {
            // Never the password itself: on Windows any local user can read the debug output.
            ups::Trace("Client send password: ********\n");
            const std::string expected = owner_.LinkPassword();
            if (!expected.empty() && !SamePassword(message.text, expected)) {
                ups::Trace("Client send wrong password\n");
                WrongPassword(client);
                return;
            }
            attempts_.erase(client->address);
            client->loggedOn = true;
            // Without a password anyone may watch, but only root or the agent's own user on this
            // machine may change anything.
            client->readOnly = expected.empty() && !client->administrator;
            client->deadline.cancel();
            owner_.OnClientAccepted(client->id);
        } else if (message.code == ups::link::kGoodbye) {
            Drop(client->id);
            return;
        } else if (client->loggedOn && client->readOnly && Changes(message.code)) {
            ups::Trace("Refused code " + std::to_string(message.code) +
                       " from a client that may only watch: no password is set\n");
        } else if (client->loggedOn) {
            owner_.OnClientMessage(client->id, message);
        }
        // Anything else before the password is ignored: a client that has not logged on may
        // neither read nor change the agent's records, nor shut the machine down.
    }
    if (!clients_.count(client->id)) return;
    client->in.erase(client->in.begin(), client->in.begin() + static_cast<std::ptrdiff_t>(used));
    // A large record once must not keep its room for as long as the client stays.
    if (client->in.empty() && client->in.capacity() > readBuffer_.size())
        client->in.shrink_to_fit();
}

void CClientLink::WrongPassword(const std::shared_ptr<Client>& client) {
    client->closing = true;  // nothing more is read; dropped once the answer is out
    const auto now = std::chrono::steady_clock::now();
    auto it = attempts_.find(client->address);
    if (it == attempts_.end()) {
        if (attempts_.size() >= kMaxAddressesRemembered) {
            // The address heard of longest ago makes room.
            attempts_.erase(std::min_element(
                attempts_.begin(), attempts_.end(),
                [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
        }
        it = attempts_.emplace(client->address, Attempts{}).first;
    }
    Attempts& a = it->second;
    if (now - a.last > kAttemptsRemembered) a.wrong = 0;
    ++a.wrong;
    a.last = now;
    const auto delay = PenaltyFor(a.wrong);
    if (delay.count() == 0) {
        Send(client->id, ups::link::Encode(ups::link::kWrongPassword));
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    client->deadline.expires_after(delay);
    client->deadline.async_wait([this, client, alive](const std::error_code& e) {
        if (!alive.expired() && !e) Send(client->id, ups::link::Encode(ups::link::kWrongPassword));
    });
}

std::chrono::seconds CClientLink::PenaltyFor(int wrong) {
    if (wrong <= kFreeAttempts) return std::chrono::seconds(0);
    const int doublings = std::min(wrong - kFreeAttempts - 1, 5);
    return std::min(std::chrono::seconds(1 << doublings), kLongestPenalty);
}

void CClientLink::Queue(const std::shared_ptr<Client>& client, std::vector<std::uint8_t> bytes) {
    if (client->pending + bytes.size() > kMaxPending ||
        pendingTotal_ + bytes.size() > kMaxPendingTotal) {
        ups::Trace("Client socket does not read: dropped\n");
        Drop(client->id);
        return;
    }
    client->pending += bytes.size();
    pendingTotal_ += bytes.size();
    client->out.push_back(std::move(bytes));
    if (!client->writing) Write(client);
}

void CClientLink::Write(const std::shared_ptr<Client>& client) {
    client->writing = true;
    std::weak_ptr<bool> alive = alive_;
    // Each message must go within the stall time; a new one starts the clock afresh.
    client->stall.expires_after(writeStall_);
    client->stall.async_wait([this, client, alive](const std::error_code& e) {
        if (alive.expired() || e || !clients_.count(client->id)) return;
        ups::Trace("Client socket takes nothing: dropped\n");
        Drop(client->id);
    });
    asio::async_write(client->socket, asio::buffer(client->out.front()),
                      [this, client, alive](const std::error_code& ec, std::size_t) {
                          if (alive.expired() || !clients_.count(client->id)) return;
                          if (ec) {
                              ups::Trace("CClientSocket CFileException exception\n");
                              Drop(client->id);
                              return;
                          }
                          client->pending -= client->out.front().size();
                          pendingTotal_ -= client->out.front().size();
                          client->out.pop_front();
                          client->writing = false;
                          client->stall.cancel();
                          if (!client->out.empty()) {
                              Write(client);
                          } else if (client->closing) {
                              Drop(client->id);
                              return;
                          }
                          FinishIfDone(client);
                          Read(client);  // it may have been paused for what waited
                      });
}

void CClientLink::Send(ClientId id, std::vector<std::uint8_t> message) {
    if (auto it = clients_.find(id); it != clients_.end()) Queue(it->second, std::move(message));
}

void CClientLink::SendAll(const std::vector<std::uint8_t>& message) {
    // A copy: a client that reads too little is dropped on the way.
    auto copy = clients_;
    for (auto& [id, client] : copy)
        if (client->loggedOn && !client->closing) Queue(client, message);
}

bool CClientLink::ReadOnly(ClientId id) const {
    auto it = clients_.find(id);
    return it == clients_.end() || it->second->readOnly;
}

void CClientLink::Drop(ClientId id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    std::error_code ignored;
    it->second->deadline.cancel();
    it->second->stall.cancel();
    pendingTotal_ -= it->second->pending;
    it->second->pending = 0;
    it->second->socket.shutdown(asio::socket_base::shutdown_both, ignored);
    it->second->socket.close(ignored);
    clients_.erase(it);
    ups::Trace("Client socket left " + std::to_string(clients_.size()) + "\n");
}

void CClientLink::DropAfter(const std::shared_ptr<Client>& client, std::chrono::seconds time) {
    std::weak_ptr<bool> alive = alive_;
    client->deadline.expires_after(time);
    // A wait cancelled (the client logged on, or a new deadline) ends with an error.
    client->deadline.async_wait([this, client, alive](const std::error_code& e) {
        if (!alive.expired() && !e) Drop(client->id);
    });
}

void CClientLink::CloseAll() {
    std::error_code ignored;
    acceptor_.close(ignored);  // and nobody new
    auto copy = clients_;
    for (auto& [id, client] : copy) {
        client->closing = true;
        if (client->writing) {
            DropAfter(client, kCloseTime);
        } else {
            Drop(id);
        }
    }
}

void CClientLink::DropAll() {
    while (!clients_.empty()) Drop(clients_.begin()->first);
}

}  // namespace torvane
