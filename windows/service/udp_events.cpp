#include "udp_events.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string_view>
#include <utility>

#include <asio.hpp>

#ifndef _WIN32
#include <sys/socket.h>
#endif

#include "ups_lib/trace.h"
#include "ups_lib/udp_datagram.h"

namespace torvane {

namespace {

using asio::ip::udp;
using namespace std::chrono_literals;

using namespace ups::udp;

constexpr std::uint16_t kNoMoreSends = 0xFFFF;
constexpr std::uint16_t kSendsPerEvent = 2;

constexpr std::string_view kAckTraces[8] = {
    "Get RE_EV_ACFAILURE from IMU client\n",
    "Get RE_EV_NOACFAILURE from IMU client\n",
    "Get RE_EV_BATTERYLOW from IMU client\n",
    "Get RE_EV_NOBATTERYLOW from IMU client\n",
    "Get RE_EV_SCHEDULED_SHUTDOWN from IMU client\n",
    "Get RE_EV_SCHEDULED_CANCELLED from IMU client\n",
    "Get RE_EV_COUNTDOWN from IMU client\n",
    "Get RE_EV_NOCOUNTDOWN from IMU client\n",
};

constexpr std::string_view kSendTraces[8] = {
    "Send IMU Client AC Fail\n",
    "Send IMU Client No AC Fail\n",
    "Send IMU Client Battery Low\n",
    "Send IMU Client No Battery Low\n",
    "Send IMU Client Scheduled Shutdown\n",
    "Send IMU Client Scheduled Cancelled\n",
    "Send IMU Client Countdown\n",
    "Send IMU Client No Countdown\n",
};

// Sends on the bound socket's handle directly, from the io_context's thread and the spooler's
// alike: an Asio socket object must not be used by two threads at once, but the system's socket
// is safe with a receive and sends in flight together. It was made non-blocking, so a full send
// buffer drops the datagram rather than stalling a thread that holds the client list; UDP may
// lose it anyway, and an event goes out twice for that reason.
void SendTo(asio::detail::socket_type handle, std::uint32_t address, std::uint16_t port,
            std::uint32_t type, std::uint32_t first, std::uint32_t second) {
    const auto data = Encode({type, first, second});
    const udp::endpoint to(asio::ip::address_v4(address), port);
#ifdef _WIN32
    ::sendto(handle, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0,
             to.data(), static_cast<int>(to.size()));
#else
    ::sendto(handle, data.data(), data.size(), 0, to.data(), static_cast<socklen_t>(to.size()));
#endif
}

// Errors after which the socket still works: an oversized datagram (Windows reports it so), and
// the ICMP "port unreachable" that Windows hands to the next receive after a send to a client
// that has gone. Anything else would come again at once, and receiving again would spin.
bool Transient(const asio::error_code& ec) {
    return ec == asio::error::message_size || ec == asio::error::connection_reset ||
           ec == asio::error::connection_refused || ec == asio::error::no_buffer_space ||
           ec == asio::error::interrupted || ec == asio::error::would_block ||
           ec == asio::error::try_again;
}

}  // namespace

// Lives as long as a receive is pending in the io_context, which belongs to our owner and may
// outlive us; so the handler holds this, never the CUdpEvents. `owner` is cleared under `mutex`
// by Stop, and the handler acts only while it finds it set, holding `mutex` throughout: once
// Stop has it, no handler is running or will run on our behalf. The same mutex keeps the socket
// object to one thread at a time (the handler re-arming the receive, Start, Stop closing it).
struct CUdpEvents::Receiver {
    explicit Receiver(asio::io_context& context) : socket(context) {}

    std::mutex mutex;
    CUdpEvents* owner = nullptr;
    std::atomic<bool> failed{false};  // the socket stopped working
    udp::socket socket;
    // The plain socket (on Windows Asio wraps it in a class of its own).
    asio::detail::socket_type handle = asio::detail::invalid_socket;
    // One byte more than a datagram: a longer one fills it and is told apart (a receive into a
    // buffer of exactly 24 bytes would cut it to 24 silently). Nothing else is received, so a
    // datagram costs no allocation.
    std::array<std::uint8_t, kDatagramSize + 1> buffer{};
    udp::endpoint sender;

    // With `mutex` held.
    static void Receive(const std::shared_ptr<Receiver>& self) {
        self->socket.async_receive_from(
            asio::buffer(self->buffer), self->sender,
            [self](const asio::error_code& ec, std::size_t size) { Received(self, ec, size); });
    }

    static void Received(const std::shared_ptr<Receiver>& self, const asio::error_code& ec,
                         std::size_t size) {
        std::lock_guard lock(self->mutex);
        if (self->owner == nullptr) return;  // stopped: the socket is closed, the owner may be gone
        if (ec && !Transient(ec)) {
            ups::Trace("UDP event socket failed: " + ec.message() + "\n");
            self->failed = true;
            return;
        }
        if (!ec) {
            if (auto d = Decode(std::span(self->buffer.data(), size)))
                self->owner->OnDatagram(*self, *d);
        }
        Receive(self);
    }
};

CUdpEvents::CUdpEvents(asio::io_context& context, Clock now, StateSource state,
                       CountdownSource countdown, std::chrono::milliseconds resend,
                       std::size_t maxClients)
    : context_(context),
      now_(std::move(now)),
      state_(std::move(state)),
      countdown_(std::move(countdown)),
      resend_(resend),
      maxClients_(maxClients) {
    if (!now_) {
        now_ = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
    for (auto& e : bitEvents_)
        e = std::make_unique<platform::Event>(platform::Event::Mode::kAutoReset);
}

CUdpEvents::~CUdpEvents() {
    Stop();
}

bool CUdpEvents::Started() const {
    return receiver_ != nullptr && !receiver_->failed;
}

bool CUdpEvents::Start(const std::string& address, std::uint16_t port) {
    if (receiver_) {
        if (!receiver_->failed) {
            lastError_ = "already started";
            return false;
        }
        Stop();  // and anew
    }
    asio::error_code ec;
    const auto bindAddress =
        address.empty() ? asio::ip::address_v4::any() : asio::ip::make_address_v4(address, ec);
    if (ec) {
        lastError_ = "not an IPv4 address: " + address;
        return false;
    }
    auto r = std::make_shared<Receiver>(context_);
    // No SO_REUSEADDR: with it a second agent could bind the same port and the system would share
    // the datagrams out between the two.
    r->socket.open(udp::v4(), ec);
    if (!ec) r->socket.bind(udp::endpoint(bindAddress, port), ec);
    if (!ec) r->socket.non_blocking(true, ec);
    // Thousands of clients acknowledge an event at once; a small buffer would drop most of it.
    // Not fatal when the system allows less.
    if (!ec) {
        asio::error_code ignored;
        r->socket.set_option(asio::socket_base::receive_buffer_size(1 << 20), ignored);
    }
    udp::endpoint local;
    if (!ec) local = r->socket.local_endpoint(ec);
    if (ec) {
        lastError_ = "cannot bind UDP port " + std::to_string(port) + ": " + ec.message();
        return false;
    }
    port_ = local.port();
    r->handle = r->socket.native_handle();
    {
        std::lock_guard lock(clientsMutex_);
        clients_.clear();
        perAddress_.clear();
    }
    // Bits set while stopped concern no client.
    quit_.Reset();
    round_.Reset();
    for (auto& e : bitEvents_) e->Reset();
    {
        std::lock_guard lock(r->mutex);
        r->owner = this;
        Receiver::Receive(r);
    }
    receiver_ = std::move(r);
    spooler_ = std::thread([this] { Spool(); });
    lastError_.clear();
    return true;
}

void CUdpEvents::Stop() {
    // The spooler first: it sends on the socket's handle, which must not be closed under it.
    if (spooler_.joinable()) {
        quit_.Set();
        spooler_.join();
    }
    if (receiver_) {
        std::lock_guard lock(receiver_->mutex);
        receiver_->owner = nullptr;
        // The pending receive ends with "aborted" whenever the context gets to it, and finds no
        // owner.
        asio::error_code ignored;
        receiver_->socket.close(ignored);
    }
    receiver_.reset();
    std::lock_guard lock(clientsMutex_);
    clients_.clear();
    perAddress_.clear();
}

std::size_t CUdpEvents::ClientCount() const {
    std::lock_guard lock(clientsMutex_);
    return clients_.size();
}

void CUdpEvents::OnDatagram(const Receiver& from, const ups::udp::Datagram& d) {
    const std::uint32_t address = from.sender.address().to_v4().to_uint();
    const std::uint16_t port = from.sender.port();
    const std::uint32_t type = d.type;
    const std::uint32_t first = d.first;
    auto answer = [&](std::uint32_t value) {
        SendTo(from.handle, address, port, kTypeAnswer, value, 0);
    };

    switch (type) {
        case kTypeHello:
            answer(kReHello);
            return;
        case kTypeAlive: {
            const std::int64_t now = now_();
            bool known = false;
            bool owed = false;
            bool full = false;
            {
                std::lock_guard lock(clientsMutex_);
                if (auto it = clients_.find(KeyOf(address, port)); it != clients_.end()) {
                    it->second.lastAlive = now;
                    known = true;
                    owed = std::exchange(it->second.stateOwed, false);
                } else {
                    auto there = perAddress_.find(address);
                    full = clients_.size() >= maxClients_ ||
                           (there != perAddress_.end() && there->second >= kMaxClientsPerAddress);
                }
            }
            if (known) {
                // The state as it is when the alive came, asked before the answer goes: what
                // the client learns from the answer cannot have changed it. Outside the lock,
                // as it is the owner's code.
                const UpsState ups = owed && state_ ? state_() : UpsState{};
                ups::Trace("A known IMU client request ALIVE and send back RE_ALIVE\n");
                answer(kReAlive);
                if (!owed) return;
                std::uint8_t bits = 0;
                if (ups.ac_fail) bits |= kUdpBitAcFail;
                if (ups.battery_low) bits |= kUdpBitBatteryLow;
                if (ups.scheduled_shutdown) bits |= kUdpBitScheduledShutdown;
                if (bits == 0) return;
                {
                    std::lock_guard lock(clientsMutex_);
                    auto it = clients_.find(KeyOf(address, port));
                    if (it == clients_.end()) return;
                    Client& c = it->second;
                    bits = static_cast<std::uint8_t>(bits & ~c.told);
                    c.told |= bits;
                    c.pending |= bits;
                    for (std::size_t i = 0; i < 8; ++i)
                        if ((bits & (1u << i)) != 0) c.sent[i] = 0;
                }
                round_.Set();
                return;
            }
            // Not answered either: the sender learns nothing, and a flood costs a look-up each.
            if (full) return;
            Client c;
            c.address = address;
            c.port = port;
            c.lastAlive = now;
            {
                std::lock_guard lock(clientsMutex_);
                if (clients_.emplace(KeyOf(address, port), c).second) ++perAddress_[address];
            }
            ups::Trace("Get a new IMU client and send back RE_ALIVE\n");
            answer(kReAlive);
            return;
        }
        case kTypeLeave: {
            {
                std::lock_guard lock(clientsMutex_);
                Forget(KeyOf(address, port));
            }
            // Answered even when it was not on the list: it is not now, which is what it asks.
            ups::Trace("IMU client leave, delete this client information\n");
            answer(kReLeave);
            return;
        }
        case kTypeAnswer: {
            if (first < kFirstAck || first >= kFirstAck + 8) return;
            const std::size_t index = first - kFirstAck;
            {
                std::lock_guard lock(clientsMutex_);
                auto it = clients_.find(KeyOf(address, port));
                if (it == clients_.end()) return;
                Client& c = it->second;
                c.pending = static_cast<std::uint8_t>(c.pending & ~(1u << index));
                c.sent[index] = 0;
            }
            ups::Trace(kAckTraces[index]);
            return;
        }
        default:
            return;
    }
}

void CUdpEvents::SetBits(int bits) {
    for (std::size_t i = 0; i < bitEvents_.size(); ++i)
        if ((bits & (1 << i)) != 0) bitEvents_[i]->Set();
}

void CUdpEvents::ExpireSilent() {
    const std::int64_t now = now_();
    std::lock_guard lock(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        const Client& c = (it++)->second;
        if (now - c.lastAlive <= kSilentLimitMs) continue;
        char line[40];
        std::snprintf(line, sizeof line, "Delete Client: %u\n", static_cast<unsigned>(c.address));
        ups::Trace(line);
        Forget(KeyOf(c.address, c.port));
    }
}

void CUdpEvents::Forget(ClientKey key) {
    auto it = clients_.find(key);
    if (it == clients_.end()) return;
    auto there = perAddress_.find(it->second.address);
    if (there != perAddress_.end() && --there->second == 0) perAddress_.erase(there);
    clients_.erase(it);
}

void CUdpEvents::MarkPending(int index) {
    {
        std::lock_guard lock(clientsMutex_);
        for (auto& [key, c] : clients_) {
            c.pending = static_cast<std::uint8_t>(c.pending | (1u << index));
            c.told = static_cast<std::uint8_t>(c.told | (1u << index));
            c.sent[static_cast<std::size_t>(index)] = 0;
        }
    }
    round_.Set();
}

void CUdpEvents::TakeBits() {
    for (std::size_t i = 0; i < bitEvents_.size(); ++i)
        if (bitEvents_[i]->Wait(0ms)) MarkPending(static_cast<int>(i));
}

std::optional<std::chrono::steady_clock::time_point> CUdpEvents::SendRound() {
    struct Send {
        std::uint32_t address;
        std::uint16_t port;
        std::uint8_t index;
    };
    // Asked before the lock is taken: it is the owner's code.
    const int seconds = countdown_ ? countdown_() : 0;
    const auto now = std::chrono::steady_clock::now();
    std::vector<Send> sends;
    std::array<bool, 8> firsts{};
    std::array<bool, 8> secondsLeft{};
    {
        std::lock_guard lock(clientsMutex_);
        sends.reserve(clients_.size());
        for (auto& [key, c] : clients_) {
            for (std::size_t i = 0; i < c.sent.size(); ++i) {
                const std::uint32_t bit = 1u << i;
                if ((c.pending & bit) == 0 || c.sent[i] == kNoMoreSends) continue;
                if (c.sent[i] == 0) {
                    firsts[i] = true;
                } else if (now < secondDue_[i]) {
                    secondsLeft[i] = true;  // its second copy is not due yet
                    continue;
                }
                sends.push_back({c.address, c.port, static_cast<std::uint8_t>(i)});
                if (++c.sent[i] >= kSendsPerEvent) {
                    c.pending = static_cast<std::uint8_t>(c.pending & ~bit);
                    c.sent[i] = kNoMoreSends;
                } else {
                    secondsLeft[i] = true;
                }
            }
        }
    }
    for (std::size_t i = 0; i < firsts.size(); ++i)
        if (firsts[i]) secondDue_[i] = now + resend_;
    const auto handle = receiver_->handle;
    for (const Send& send : sends) {
        const std::uint32_t bit = 1u << send.index;
        // Traced first: whoever hears the datagram may look for the line at once.
        ups::Trace(kSendTraces[send.index]);
        SendTo(handle, send.address, send.port, kTypeEvent, bit,
               bit == kUdpBitCountdown ? static_cast<std::uint32_t>(seconds) : 0);
    }
    std::optional<std::chrono::steady_clock::time_point> next;
    for (std::size_t i = 0; i < secondsLeft.size(); ++i)
        if (secondsLeft[i] && (!next || secondDue_[i] < *next)) next = secondDue_[i];
    return next;
}

void CUdpEvents::Spool() {
    const auto& b = bitEvents_;
    for (;;) {
        const int which =
            platform::WaitAny({&quit_, &round_, b[0].get(), b[1].get(), b[2].get(), b[3].get(),
                               b[4].get(), b[5].get(), b[6].get(), b[7].get()},
                              platform::kInfinite);
        if (which == 0) break;
        if (which >= 2) {
            MarkPending(which - 2);  // raises the round
            continue;
        }
        // Rounds until every second copy has gone. An event set while one waits goes out at
        // once rather than after the wait; the second copies keep their time.
        bool quit = false;
        for (;;) {
            TakeBits();
            const auto due = SendRound();
            if (!due) break;
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                *due - std::chrono::steady_clock::now());
            const int woken =
                platform::WaitAny({&quit_, b[0].get(), b[1].get(), b[2].get(), b[3].get(),
                                   b[4].get(), b[5].get(), b[6].get(), b[7].get()},
                                  std::max(wait, 0ms));
            if (woken == 0) {
                quit = true;
                break;
            }
            if (woken > 0) MarkPending(woken - 1);
        }
        if (quit) break;
    }
    ups::Trace("Spooler Thread End\n");
}

}  // namespace torvane
