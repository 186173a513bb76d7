// The agent's TCP server for control panels (port $TORVANE_TCP_PORT, default 2570): accepts
// clients, reads their messages as bytes arrive, checks the password, and sends codes and
// records to one client or to all. Everything runs on the frame's thread (its io_context), so
// the frame's records are only ever touched there.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ups_lib/link_message.h"

namespace torvane {

// Ids of TCP clients start at 1, so 0 can name a client of another link.
using ClientId = std::uint64_t;

// What the link asks of its owner.
class LinkOwner {
  public:
    virtual ~LinkOwner() = default;
    // The configured password; empty accepts any.
    virtual std::string LinkPassword() = 0;
    // A client has logged on: send it the state.
    virtual void OnClientAccepted(ClientId client) = 0;
    // Any other message of a logged-on client (codes 3 to 45 and unknown ones).
    virtual void OnClientMessage(ClientId client, ups::link::Message& message) = 0;
};

class CClientLink {
  public:
    // At most this many clients at once; a further connection is closed at once.
    static constexpr std::size_t kMaxClients = 1024;
    // Of them, from one address, and not logged on yet from one address.
    static constexpr std::size_t kMaxPerAddress = 64;
    static constexpr std::size_t kMaxWaitingPerAddress = 8;
    // A password is short; a longer one is not read.
    static constexpr std::size_t kMaxPassword = 1024;
    // A client's messages handled at one go before the others' turn (and the UPS's).
    static constexpr int kMessagesPerTurn = 8;
    // Nothing more is read from a client while this much waits to be sent to it.
    static constexpr std::size_t kPauseReading = 1024 * 1024;
    // A client that has not logged on within this time is dropped.
    static constexpr std::chrono::seconds kLogonTime{30};
    // A client that does not read: once this much waits to be sent to it, it is dropped.
    static constexpr std::size_t kMaxPending = 16 * 1024 * 1024;
    // What may wait for all clients together; the client whose message would pass it is dropped.
    static constexpr std::size_t kMaxPendingTotal = 64 * 1024 * 1024;
    // A client that takes none of a message waiting for it within this time is dropped: a
    // panel that stopped reading would otherwise hold its place, and its memory, for days, as
    // the status records alone take a week to reach kMaxPending.
    static constexpr std::chrono::seconds kWriteStall{120};
    static constexpr std::chrono::seconds kCloseTime{2};
    // Wrong passwords from one address: the first kFreeAttempts are answered at once, each
    // further one a second later, then 2, 4, ... up to kLongestPenalty; an address that has
    // been quiet for kAttemptsRemembered starts afresh.
    static constexpr int kFreeAttempts = 3;
    static constexpr std::chrono::seconds kLongestPenalty{20};
    static constexpr std::chrono::minutes kAttemptsRemembered{10};
    static constexpr std::size_t kMaxAddressesRemembered = 256;
    static std::chrono::seconds PenaltyFor(int wrong);

    // `writeStall`: kWriteStall, shorter in tests.
    CClientLink(asio::io_context& context, LinkOwner& owner,
                std::chrono::milliseconds writeStall = kWriteStall);
    ~CClientLink();

    // Binds and listens (backlog 5). False with the reason when the port cannot be had.
    bool Listen(const std::string& address, std::uint16_t port, std::string& problem);
    std::uint16_t Port() const;
    bool Listening() const { return acceptor_.is_open(); }

    // One whole message (link_message.h's Encode*) to one client, or to every logged-on one.
    void Send(ClientId client, std::vector<std::uint8_t> message);
    void SendAll(const std::vector<std::uint8_t>& message);

    // The client logged on without a password and may change nothing (or is gone).
    bool ReadOnly(ClientId client) const;
    void Drop(ClientId client);
    void DropAll();
    // Stops listening and drops every client once what is queued for it has gone out, at the
    // latest after kCloseTime: a panel should learn why the agent goes away, but not hold the
    // shutdown.
    void CloseAll();
    std::size_t ClientCount() const { return clients_.size(); }

  private:
    struct Client;

    void Accept();
    void Admit(const std::shared_ptr<Client>& client);
    // Drops a client that has closed its side once its answers are out.
    void FinishIfDone(const std::shared_ptr<Client>& client);
    void Read(const std::shared_ptr<Client>& client);
    void Consume(const std::shared_ptr<Client>& client);
    // False when the message that starts `bytes` must not even be decoded: the client is
    // dropped.
    static bool Screen(const Client& client, std::span<const std::uint8_t> bytes);
    void Queue(const std::shared_ptr<Client>& client, std::vector<std::uint8_t> bytes);
    void Write(const std::shared_ptr<Client>& client);
    void WrongPassword(const std::shared_ptr<Client>& client);
    void DropAfter(const std::shared_ptr<Client>& client, std::chrono::seconds time);

    asio::io_context& context_;
    LinkOwner& owner_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer acceptRetry_;  // paces accepting after an error (no descriptors left)
    std::map<ClientId, std::shared_ptr<Client>> clients_;
    std::chrono::milliseconds writeStall_;
    std::size_t pendingTotal_ = 0;  // the sum of the clients' pending bytes
    struct Attempts {
        int wrong = 0;
        std::chrono::steady_clock::time_point last{};
    };
    std::map<std::string, Attempts> attempts_;  // by the peer's address
    // One for all: a client's bytes are read only once they have come, on this one thread.
    std::vector<std::uint8_t> readBuffer_ = std::vector<std::uint8_t>(64 * 1024);
    ClientId nextId_ = 1;
    // Handlers still queued after the link is gone see this expired and do nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace torvane
