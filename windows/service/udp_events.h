// The agent's UDP event clients: remote programs that only want to hear about alarms. A client
// says "alive" now and then; the agent keeps it on a list and sends it every event (a utility
// failure, a low battery, a scheduled shutdown, the countdown and their ends) twice, about 900 ms
// apart, unless it acknowledges the first copy. A client that stays silent for a minute is
// dropped.
//
// Every datagram, both ways, is 24 bytes: six 32-bit little-endian words, a check value (the XOR
// of the five others), 210, the message type, the payload length 8, and two payload values.
//
// Datagrams arrive on the owner's io_context (the frame's window thread), so the callbacks that
// ask for the UPS's state run there too; the events go out from a spooler thread of our own, so a
// busy frame never holds them back. Both send from the one bound socket, so a client behind a
// firewall sees a single peer.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "udp_bits.h"
#include "ups_lib/platform/events.h"
#include "ups_lib/udp_datagram.h"

namespace asio {
class io_context;
}

namespace torvane {

class CUdpEvents {
  public:
    // What a newly arrived client is told at once.
    struct UpsState {
        bool ac_fail = false;
        bool battery_low = false;
        bool scheduled_shutdown = false;
    };
    // The callbacks must not call back into this object's Start or Stop.
    // `now`: milliseconds on any steady scale, for the clients' last "alive"; called on the
    // io_context's thread and in ExpireSilent. Empty: the steady clock.
    using Clock = std::function<std::int64_t()>;
    // Called on the io_context's thread when a new client arrives.
    using StateSource = std::function<UpsState()>;
    // The countdown's seconds left, sent with bit 64. Called on the spooler thread, once per
    // send round and outside every lock of ours, so it must be safe from any thread; and it must
    // not wait for the io_context's thread, as a Stop there waits for the spooler.
    using CountdownSource = std::function<int()>;

    // An existing client always keeps working, but a peer that says "alive" from ever new ports
    // (or forged addresses: it is UDP) must not grow the list without end; a large
    // installation has some thousands of clients.
    static constexpr std::size_t kMaxClients = 16384;
    // Of them, from one address (a host behind a NAT has several clients, never thousands).
    static constexpr std::size_t kMaxClientsPerAddress = 64;
    // A client silent for longer than this is dropped by ExpireSilent.
    static constexpr std::int64_t kSilentLimitMs = 60000;
    // Between the two copies of an event.
    static constexpr std::chrono::milliseconds kResendInterval{900};

    // `context` must outlive this object; its thread may run it or not, Stop never waits for it.
    // `resend`: between the two copies (tests that must act between them lengthen it);
    // `maxClients`: the cap on the list.
    CUdpEvents(asio::io_context& context, Clock now, StateSource state, CountdownSource countdown,
               std::chrono::milliseconds resend = kResendInterval,
               std::size_t maxClients = kMaxClients);
    ~CUdpEvents();
    CUdpEvents(const CUdpEvents&) = delete;
    CUdpEvents& operator=(const CUdpEvents&) = delete;

    // Binds `address` (dotted IPv4; empty for every interface) and `port` (0: one the system
    // picks, see Port()) and starts receiving and the spooler. False, with LastError() saying
    // why, when the address is no IPv4 address or the port cannot be bound (in use); false when
    // already started.
    bool Start(const std::string& address, std::uint16_t port);
    // Ends the spooler (at once, even in the middle of its pause between rounds), closes the
    // socket and forgets the clients. Once it returns no callback runs and nothing is sent. Any
    // thread may call it, the io_context's own too, and any number of times, but not two threads
    // at once, nor while another starts it.
    void Stop();

    const std::string& LastError() const { return lastError_; }
    // The port bound by the last successful Start.
    std::uint16_t Port() const { return port_; }

    // Marks each of the event bits in `bits` (UdpEventBit) pending for every client, afresh:
    // each goes out twice more unless acknowledged. Any thread; it only wakes the spooler.
    void SetBits(int bits);
    // Drops the clients silent for longer than kSilentLimitMs. The owner calls it every minute.
    void ExpireSilent();

    // Started, and its socket still works (after a failure the owner's next Start tries anew).
    bool Started() const;
    std::size_t ClientCount() const;

  private:
    struct Client {
        std::uint32_t address = 0;  // IPv4, host order
        std::uint16_t port = 0;
        std::int64_t lastAlive = 0;
        std::uint8_t pending = 0;  // event bits still to send
        // The state that holds is owed to it once it says alive again: a forged sender gets
        // one answer of the size it sent and no more.
        bool stateOwed = true;
        std::uint8_t told = 0;  // bits it was sent since it came: not sent again as its state
        // Copies sent of each bit's event; kNoMoreSends once it has gone out twice.
        std::array<std::uint16_t, 8> sent{};
    };
    using ClientKey = std::uint64_t;  // address and port
    static ClientKey KeyOf(std::uint32_t address, std::uint16_t port) {
        return static_cast<ClientKey>(address) << 16 | port;
    }
    struct Receiver;

    // On the io_context's thread, for a datagram that passed every check.
    void OnDatagram(const Receiver& from, const ups::udp::Datagram& d);
    void Spool();
    void MarkPending(int index);
    // With clientsMutex_ held.
    void Forget(ClientKey key);
    // Marks the bits set since the last look.
    void TakeBits();
    // Sends the first copies waiting and the second copies due. The sends go out after the list
    // is let go, so that a round to thousands of clients never holds up their acknowledgements.
    // When a second copy is still to go, the time it is due.
    std::optional<std::chrono::steady_clock::time_point> SendRound();

    asio::io_context& context_;
    Clock now_;
    StateSource state_;
    CountdownSource countdown_;
    std::chrono::milliseconds resend_;
    std::size_t maxClients_;
    std::string lastError_;
    std::uint16_t port_ = 0;

    // The socket and what the io_context's handlers share with us: they may outlive us, in a
    // context that outlives us. Set while started.
    std::shared_ptr<Receiver> receiver_;

    mutable std::mutex clientsMutex_;  // the datagram handler, the spooler and the expiry
    std::unordered_map<ClientKey, Client> clients_;              // at most maxClients_
    std::unordered_map<std::uint32_t, std::size_t> perAddress_;  // clients_ by address
    // When the second copies of each bit's event are due: resend_ after its first copies went
    // out (on the spooler's thread only).
    std::array<std::chrono::steady_clock::time_point, 8> secondDue_{};

    platform::Event quit_{platform::Event::Mode::kAutoReset};
    platform::Event round_{platform::Event::Mode::kAutoReset};
    std::array<std::unique_ptr<platform::Event>, 8> bitEvents_;
    std::thread spooler_;
};

}  // namespace torvane
