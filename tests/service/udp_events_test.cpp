// The UDP event clients over real sockets on 127.0.0.1: the datagram checks, the answers byte for
// byte, the events and their second copy, acknowledgements, expiry over an injected clock, the
// cap on clients, and stopping with a round asleep or a receive pending.
#include "udp_events.h"

#include "alert_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ups_lib/trace.h"

namespace torvane {
namespace {

using asio::ip::udp;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

void Put(Bytes& d, std::size_t offset, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) d[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A datagram as a client sends it, with its check value.
Bytes Make(std::uint32_t type, std::uint32_t first, std::uint32_t second = 0) {
    Bytes d(24);
    Put(d, 4, 210);
    Put(d, 8, type);
    Put(d, 12, 8);
    Put(d, 16, first);
    Put(d, 20, second);
    Put(d, 0, 210 ^ type ^ 8 ^ first ^ second);
    return d;
}

struct Got {
    Bytes bytes;
    udp::endpoint from;
    SteadyClock::time_point at;

    std::uint32_t Word(std::size_t index) const {
        const std::size_t o = 4 * index;
        return static_cast<std::uint32_t>(bytes[o]) |
               static_cast<std::uint32_t>(bytes[o + 1]) << 8 |
               static_cast<std::uint32_t>(bytes[o + 2]) << 16 |
               static_cast<std::uint32_t>(bytes[o + 3]) << 24;
    }
    std::uint32_t Type() const { return Word(2); }
    std::uint32_t First() const { return Word(4); }
    std::uint32_t Second() const { return Word(5); }
};

// A remote client: a socket of its own on 127.0.0.1, driven synchronously by the test.
class Peer {
  public:
    explicit Peer(asio::ip::address_v4 address = asio::ip::address_v4::loopback())
        : socket_(context_, udp::endpoint(address, 0)) {}

    void Send(const Bytes& d, std::uint16_t port) {
        socket_.send_to(asio::buffer(d), udp::endpoint(asio::ip::address_v4::loopback(), port));
    }

    // The next datagram, or none within `timeout`.
    std::optional<Got> Receive(std::chrono::milliseconds timeout) {
        std::optional<Got> got;
        std::array<std::uint8_t, 256> buffer{};
        udp::endpoint from;
        socket_.async_receive_from(
            asio::buffer(buffer), from, [&](const asio::error_code& ec, std::size_t n) {
                if (!ec)
                    got = Got{Bytes(buffer.begin(), buffer.begin() + n), from, SteadyClock::now()};
            });
        context_.restart();
        context_.run_for(timeout);
        if (!context_.stopped()) {
            socket_.cancel();
            context_.restart();
            context_.run();
        }
        return got;
    }

    std::uint16_t Port() const { return socket_.local_endpoint().port(); }

  private:
    asio::io_context context_;
    udp::socket socket_;
};

using test::TraceRecorder;

class UdpEvents : public ::testing::Test {
  protected:
    void SetUp() override {
        events_ = MakeEvents(context_);
        ASSERT_TRUE(events_->Start("127.0.0.1", 0)) << events_->LastError();
        ASSERT_NE(events_->Port(), 0);
    }
    void TearDown() override {
        events_.reset();
        work_.reset();
        thread_.join();
    }

    std::unique_ptr<CUdpEvents> MakeEvents(
        asio::io_context& context, std::chrono::milliseconds resend = CUdpEvents::kResendInterval,
        std::size_t maxClients = CUdpEvents::kMaxClients) {
        return std::make_unique<CUdpEvents>(
            context, [this] { return now_.load(); },
            [this] {
                CUdpEvents::UpsState s;
                s.ac_fail = acFail_;
                s.battery_low = batteryLow_;
                s.scheduled_shutdown = scheduled_;
                return s;
            },
            [this] { return seconds_.load(); }, resend, maxClients);
    }

    std::uint16_t Port() const { return events_->Port(); }

    // Says alive and expects the RE_ALIVE answer from the agent's port.
    void Join(Peer& peer) {
        peer.Send(Make(3, 0), Port());
        auto got = peer.Receive(2s);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->Type(), 10u);
        EXPECT_EQ(got->First(), 13u);
    }

    // The event bits of the datagrams arriving within `timeout` of each other, `count` at most.
    std::vector<std::uint32_t> EventBits(Peer& peer, std::size_t count,
                                         std::chrono::milliseconds timeout = 2s) {
        std::vector<std::uint32_t> bits;
        while (bits.size() < count) {
            auto got = peer.Receive(timeout);
            if (!got) break;
            EXPECT_EQ(got->Type(), 5u);
            bits.push_back(got->First());
        }
        std::sort(bits.begin(), bits.end());
        return bits;
    }

    TraceRecorder traces_;
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_ =
        asio::make_work_guard(context_);
    std::thread thread_{[this] { context_.run(); }};
    std::atomic<std::int64_t> now_{1000};
    std::atomic<bool> acFail_{false};
    std::atomic<bool> batteryLow_{false};
    std::atomic<bool> scheduled_{false};
    std::atomic<int> seconds_{0};
    std::unique_ptr<CUdpEvents> events_;
};

TEST_F(UdpEvents, HelloAliveAndLeaveAreAnsweredByteForByteFromTheBoundPort) {
    Peer peer;
    peer.Send(Make(1, 0), Port());
    auto got = peer.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, (Bytes{0xDB, 0, 0, 0, 210, 0, 0, 0, 10, 0, 0, 0,
                                 8,    0, 0, 0, 11,  0, 0, 0, 0,  0, 0, 0}));
    EXPECT_EQ(got->from, udp::endpoint(asio::ip::address_v4::loopback(), Port()));
    EXPECT_EQ(events_->ClientCount(), 0u);  // a hello does not make a client

    peer.Send(Make(3, 0), Port());
    got = peer.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, (Bytes{0xDD, 0, 0, 0, 210, 0, 0, 0, 10, 0, 0, 0,
                                 8,    0, 0, 0, 13,  0, 0, 0, 0,  0, 0, 0}));
    EXPECT_EQ(events_->ClientCount(), 1u);
    EXPECT_EQ(traces_.Count("Get a new IMU client and send back RE_ALIVE\n"), 1u);

    peer.Send(Make(3, 0), Port());
    got = peer.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->First(), 13u);
    EXPECT_EQ(events_->ClientCount(), 1u);
    EXPECT_EQ(traces_.Count("A known IMU client request ALIVE and send back RE_ALIVE\n"), 1u);

    peer.Send(Make(4, 0), Port());
    got = peer.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, (Bytes{0xDE, 0, 0, 0, 210, 0, 0, 0, 10, 0, 0, 0,
                                 8,    0, 0, 0, 14,  0, 0, 0, 0,  0, 0, 0}));
    EXPECT_EQ(events_->ClientCount(), 0u);
    EXPECT_EQ(traces_.Count("IMU client leave, delete this client information\n"), 1u);
}

TEST_F(UdpEvents, DamagedForeignAndOddSizedDatagramsChangeNothingAndGetNoAnswer) {
    Peer member;
    Join(member);
    Peer stranger;
    traces_.Clear();
    for (std::size_t i = 0; i < 24; ++i) {
        Bytes alive = Make(3, 0);
        alive[i] ^= 0x01;
        stranger.Send(alive, Port());
        Bytes leave = Make(4, 0);
        leave[i] ^= 0x80;
        member.Send(leave, Port());
    }
    // The check value right, but not the mark or the length.
    Bytes mark = Make(3, 0);
    Put(mark, 4, 211);
    Put(mark, 0, 211 ^ 3 ^ 8);
    stranger.Send(mark, Port());
    Bytes length = Make(3, 0);
    Put(length, 12, 9);
    Put(length, 0, 210 ^ 3 ^ 9);
    stranger.Send(length, Port());
    // Too short, too long (a valid alive with a byte more), empty.
    Bytes alive = Make(3, 0);
    stranger.Send(Bytes(alive.begin(), alive.end() - 1), Port());
    Bytes longer = alive;
    longer.push_back(0);
    stranger.Send(longer, Port());
    Bytes large = alive;
    large.resize(200);
    stranger.Send(large, Port());
    stranger.Send(Bytes{}, Port());
    // Well formed, but of no type or value we know.
    for (std::uint32_t type : {0u, 2u, 5u, 6u, 11u}) stranger.Send(Make(type, 0), Port());
    for (std::uint32_t value : {14u, 23u}) member.Send(Make(10, value), Port());

    // Handled in order: the first answer is this one's only if nothing above was answered.
    stranger.Send(Make(1, 0), Port());
    auto got = stranger.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->First(), 11u);
    EXPECT_FALSE(member.Receive(50ms));
    EXPECT_FALSE(stranger.Receive(50ms));
    EXPECT_EQ(events_->ClientCount(), 1u);  // the member is still there, the stranger is not
    EXPECT_TRUE(traces_.Lines().empty());
}

TEST_F(UdpEvents, ANewClientIsToldTheCurrentStateOnItsSecondAliveAndAnOldOneIsNot) {
    Peer old;
    Join(old);
    Join(old);
    acFail_ = true;
    scheduled_ = true;
    Peer first;
    Join(first);
    // One answer of the size it sent, nothing more: the sender may be forged.
    EXPECT_FALSE(first.Receive(300ms));
    Join(first);
    EXPECT_EQ(EventBits(first, 2), (std::vector<std::uint32_t>{1, 16}));
    acFail_ = false;
    scheduled_ = false;
    batteryLow_ = true;
    Peer second;
    Join(second);
    Join(second);
    EXPECT_EQ(EventBits(second, 1), (std::vector<std::uint32_t>{4}));
    // The second copies, one round later.
    EXPECT_EQ(EventBits(first, 2), (std::vector<std::uint32_t>{1, 16}));
    EXPECT_EQ(EventBits(second, 1), (std::vector<std::uint32_t>{4}));
    EXPECT_FALSE(old.Receive(100ms));
    EXPECT_EQ(traces_.Count("Send IMU Client AC Fail\n"), 2u);
    EXPECT_EQ(traces_.Count("Send IMU Client Battery Low\n"), 2u);
    EXPECT_EQ(traces_.Count("Send IMU Client Scheduled Shutdown\n"), 2u);
}

TEST_F(UdpEvents, AnUnacknowledgedEventGoesOutTwiceAbout900MsApartAndNeverAgain) {
    Peer peer;
    Join(peer);
    events_->SetBits(kUdpBitAcFail);
    auto one = peer.Receive(2s);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->bytes,
              (Bytes{0xDE, 0, 0, 0, 210, 0, 0, 0, 5, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(one->from, udp::endpoint(asio::ip::address_v4::loopback(), Port()));
    auto two = peer.Receive(2s);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->bytes, one->bytes);
    const auto gap = two->at - one->at;
    EXPECT_GE(gap, 600ms);
    EXPECT_LE(gap, 1500ms);
    EXPECT_FALSE(peer.Receive(2500ms));
    EXPECT_EQ(traces_.Count("Send IMU Client AC Fail\n"), 2u);
    // Set again, it goes out afresh.
    events_->SetBits(kUdpBitAcFail);
    EXPECT_EQ(EventBits(peer, 1), (std::vector<std::uint32_t>{1}));
}

TEST_F(UdpEvents, AnAcknowledgementStopsTheSecondCopy) {
    events_ = MakeEvents(context_, 2s);  // the acknowledgement is in before the second copy
    ASSERT_TRUE(events_->Start("127.0.0.1", 0)) << events_->LastError();
    Peer peer;
    Join(peer);
    events_->SetBits(kUdpBitBatteryLow);
    auto got = peer.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->First(), 4u);
    peer.Send(Make(10, 17), Port());
    EXPECT_FALSE(peer.Receive(3s));
    EXPECT_EQ(traces_.Count("Get RE_EV_BATTERYLOW from IMU client\n"), 1u);
    EXPECT_EQ(traces_.Count("Send IMU Client Battery Low\n"), 1u);
    // Set again, it goes out afresh.
    events_->SetBits(kUdpBitBatteryLow);
    EXPECT_EQ(EventBits(peer, 1), (std::vector<std::uint32_t>{4}));
}

TEST_F(UdpEvents, AnEventSetWhileASecondCopyWaitsGoesOutAtOnce) {
    events_ = MakeEvents(context_, 3s);
    ASSERT_TRUE(events_->Start("127.0.0.1", 0)) << events_->LastError();
    Peer peer;
    Join(peer);
    events_->SetBits(kUdpBitAcFail);
    auto first = peer.Receive(5s);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->First(), 1u);
    std::this_thread::sleep_for(200ms);
    const auto restoredAt = SteadyClock::now();
    events_->SetBits(kUdpBitAcRestored);
    auto restored = peer.Receive(5s);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->First(), 2u);
    EXPECT_LT(restored->at - restoredAt, 1500ms) << "not held back to the second copies";
    // The first event's second copy keeps its time, and the new one gets its own later.
    auto second = peer.Receive(5s);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->First(), 1u);
    EXPECT_GE(second->at - first->at, 2500ms);
    auto last = peer.Receive(5s);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->First(), 2u);
    EXPECT_GE(last->at - restored->at, 2500ms);
    EXPECT_FALSE(peer.Receive(1s));
}

TEST_F(UdpEvents, EachAcknowledgementClearsItsOwnBit) {
    // Told by the order of the trace, not by timing: an acknowledged event is never sent after
    // its acknowledgement, the others get their second copy.
    const std::array<std::string, 8> sends = {"Send IMU Client AC Fail\n",
                                              "Send IMU Client No AC Fail\n",
                                              "Send IMU Client Battery Low\n",
                                              "Send IMU Client No Battery Low\n",
                                              "Send IMU Client Scheduled Shutdown\n",
                                              "Send IMU Client Scheduled Cancelled\n",
                                              "Send IMU Client Countdown\n",
                                              "Send IMU Client No Countdown\n"};
    const std::array<std::string, 8> acks = {"Get RE_EV_ACFAILURE from IMU client\n",
                                             "Get RE_EV_NOACFAILURE from IMU client\n",
                                             "Get RE_EV_BATTERYLOW from IMU client\n",
                                             "Get RE_EV_NOBATTERYLOW from IMU client\n",
                                             "Get RE_EV_SCHEDULED_SHUTDOWN from IMU client\n",
                                             "Get RE_EV_SCHEDULED_CANCELLED from IMU client\n",
                                             "Get RE_EV_COUNTDOWN from IMU client\n",
                                             "Get RE_EV_NOCOUNTDOWN from IMU client\n"};
    auto waitFor = [&](const std::function<bool()>& done) {
        const auto until = SteadyClock::now() + 20s;
        while (!done() && SteadyClock::now() < until) std::this_thread::sleep_for(10ms);
        return done();
    };
    Peer peer;
    Join(peer);
    events_->SetBits(0xFF);
    ASSERT_TRUE(waitFor([&] {
        return std::all_of(sends.begin(), sends.end(),
                           [&](const std::string& l) { return traces_.Count(l) >= 1; });
    }));
    for (std::uint32_t value : {15u, 18u, 19u, 22u}) peer.Send(Make(10, value), Port());
    // The others go out a second time, and then nothing more.
    ASSERT_TRUE(waitFor([&] {
        const std::array<std::size_t, 4> others = {1, 2, 5, 6};
        return std::all_of(others.begin(), others.end(),
                           [&](std::size_t i) { return traces_.Count(sends[i]) == 2; });
    }));
    for (std::uint32_t value : {16u, 17u, 20u, 21u}) peer.Send(Make(10, value), Port());
    peer.Send(Make(1, 0), Port());  // once this is answered, the acknowledgements are in
    std::this_thread::sleep_for(CUdpEvents::kResendInterval + 500ms);
    const auto lines = traces_.Lines();
    std::vector<std::string> acked;
    for (const auto& line : lines)
        if (line.rfind("Get RE_EV_", 0) == 0) acked.push_back(line);
    EXPECT_EQ(acked, (std::vector<std::string>{acks[0], acks[3], acks[4], acks[7], acks[1], acks[2],
                                               acks[5], acks[6]}));
    for (std::size_t i = 0; i < 8; ++i) {
        // Never more than two copies; none after the acknowledgement.
        EXPECT_LE(traces_.Count(sends[i]), 2u) << sends[i];
        const auto ack = std::find(lines.begin(), lines.end(), acks[i]);
        ASSERT_NE(ack, lines.end()) << acks[i];
        EXPECT_EQ(std::find(ack, lines.end(), sends[i]), lines.end()) << sends[i];
    }
}

TEST_F(UdpEvents, TheCountdownCarriesItsSecondsLeft) {
    Peer peer;
    Join(peer);
    seconds_ = 300;
    events_->SetBits(kUdpBitCountdown | kUdpBitCountdownStopped);
    std::vector<Got> round;
    for (int i = 0; i < 2; ++i) {
        auto got = peer.Receive(2s);
        ASSERT_TRUE(got);
        round.push_back(*got);
    }
    std::sort(round.begin(), round.end(), [](auto& a, auto& b) { return a.First() < b.First(); });
    EXPECT_EQ(round[0].bytes, (Bytes{0xB3, 0x01, 0, 0, 210, 0, 0, 0, 5,    0,    0, 0,
                                     8,    0,    0, 0, 64,  0, 0, 0, 0x2C, 0x01, 0, 0}));
    EXPECT_EQ(round[1].First(), 128u);
    EXPECT_EQ(round[1].Second(), 0u);
    seconds_ = 299;  // the second copy says what is left then
    bool sawCountdown = false;
    for (int i = 0; i < 2; ++i) {
        auto got = peer.Receive(2s);
        ASSERT_TRUE(got);
        if (got->First() == 64) {
            sawCountdown = true;
            EXPECT_EQ(got->Second(), 299u);
        } else {
            EXPECT_EQ(got->Second(), 0u);
        }
    }
    EXPECT_TRUE(sawCountdown);
    EXPECT_EQ(traces_.Count("Send IMU Client Countdown\n"), 2u);
    EXPECT_EQ(traces_.Count("Send IMU Client No Countdown\n"), 2u);
}

TEST_F(UdpEvents, ClientsSilentForMoreThanAMinuteAreDropped) {
    Peer early, refreshed, late;
    now_ = 1000;
    Join(early);
    Join(refreshed);
    now_ = 31000;
    Join(late);
    now_ = 50000;
    Join(refreshed);  // alive again: its minute starts afresh
    now_ = 61000;     // exactly a minute: not yet
    events_->ExpireSilent();
    EXPECT_EQ(events_->ClientCount(), 3u);
    now_ = 61001;
    events_->ExpireSilent();
    EXPECT_EQ(events_->ClientCount(), 2u);
    EXPECT_EQ(traces_.Count("Delete Client: 2130706433\n"), 1u);  // 127.0.0.1
    now_ = 91001;  // the late one, a minute and a millisecond on
    events_->ExpireSilent();
    EXPECT_EQ(events_->ClientCount(), 1u);
    now_ = 200000;
    events_->ExpireSilent();
    EXPECT_EQ(events_->ClientCount(), 0u);
    EXPECT_EQ(traces_.Count("Delete Client: 2130706433\n"), 3u);
    // A dropped client that comes back is a new one.
    traces_.Clear();
    Join(early);
    EXPECT_EQ(traces_.Count("Get a new IMU client and send back RE_ALIVE\n"), 1u);
}

TEST_F(UdpEvents, AFloodOfNewSendersStopsAtTheCapAndKnownClientsKeepWorking) {
    constexpr std::size_t kCap = 64;  // a socket a peer: far below the real cap
    events_ = MakeEvents(context_, CUdpEvents::kResendInterval, kCap);
    ASSERT_TRUE(events_->Start("127.0.0.1", 0)) << events_->LastError();
    std::vector<std::unique_ptr<Peer>> members;
    for (std::size_t i = 0; i < kCap; ++i) {
        members.push_back(std::make_unique<Peer>());
        Join(*members.back());
    }
    ASSERT_EQ(events_->ClientCount(), kCap);
    std::vector<std::unique_ptr<Peer>> flood;
    for (int i = 0; i < 20; ++i) {
        flood.push_back(std::make_unique<Peer>());
        flood.back()->Send(Make(3, 0), Port());
    }
    flood.back()->Send(Make(1, 0), Port());  // answered once every alive above was handled
    auto got = flood.back()->Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->First(), 11u);
    for (auto& p : flood) EXPECT_FALSE(p->Receive(5ms));
    EXPECT_EQ(events_->ClientCount(), kCap);
    Join(*members.front());  // known: still answered
    // A place that comes free can be taken.
    members.front()->Send(Make(4, 0), Port());
    ASSERT_TRUE(members.front()->Receive(2s));
    Join(*flood.front());
    EXPECT_EQ(events_->ClientCount(), kCap);
    // Events reach the members, the newcomer among them, and nobody else.
    events_->SetBits(kUdpBitAcRestored);
    EXPECT_EQ(EventBits(*members.back(), 1), (std::vector<std::uint32_t>{2}));
    EXPECT_EQ(EventBits(*flood.front(), 1), (std::vector<std::uint32_t>{2}));
    EXPECT_FALSE(members.front()->Receive(5ms));
    EXPECT_FALSE(flood.back()->Receive(5ms));
}

TEST_F(UdpEvents, OneAddressCannotTakeEveryPlace) {
    std::vector<std::unique_ptr<Peer>> members;
    for (std::size_t i = 0; i < CUdpEvents::kMaxClientsPerAddress; ++i) {
        members.push_back(std::make_unique<Peer>());
        Join(*members.back());
    }
    Peer one_more;
    one_more.Send(Make(3, 0), Port());
    EXPECT_FALSE(one_more.Receive(300ms));
    // Another host is still welcome, and a port that leaves makes room again.
    Peer elsewhere(asio::ip::make_address_v4("127.0.0.2"));
    Join(elsewhere);
    members.front()->Send(Make(4, 0), Port());
    ASSERT_TRUE(members.front()->Receive(2s));
    Join(one_more);
    EXPECT_EQ(events_->ClientCount(), CUdpEvents::kMaxClientsPerAddress + 1);
}

TEST_F(UdpEvents, StopEndsASleepingRoundAtOnce) {
    Peer peer;
    Join(peer);
    events_->SetBits(kUdpBitAcFail);
    ASSERT_TRUE(peer.Receive(2s));  // the first copy: the spooler sleeps before the second
    const auto start = SteadyClock::now();
    events_->Stop();
    EXPECT_LT(SteadyClock::now() - start, 300ms);
    EXPECT_EQ(traces_.Count("Spooler Thread End\n"), 1u);
    EXPECT_EQ(events_->ClientCount(), 0u);
    EXPECT_FALSE(peer.Receive(1200ms));  // no second copy
    peer.Send(Make(1, 0), Port());
    EXPECT_FALSE(peer.Receive(100ms));  // the socket is closed
    events_->Stop();                    // again: nothing
    // And it starts again, on the same port.
    const std::uint16_t port = Port();
    ASSERT_TRUE(events_->Start("127.0.0.1", port)) << events_->LastError();
    EXPECT_EQ(Port(), port);
    Join(peer);
}

TEST_F(UdpEvents, StopOnTheContextsOwnThreadDoesNotWaitForIt) {
    Peer peer;
    Join(peer);
    std::promise<void> stopped;
    asio::post(context_, [&] {
        events_->Stop();
        stopped.set_value();
    });
    ASSERT_EQ(stopped.get_future().wait_for(2s), std::future_status::ready);
    peer.Send(Make(1, 0), Port());
    EXPECT_FALSE(peer.Receive(100ms));
}

TEST_F(UdpEvents, ABusyPortOrABadAddressIsReportedNotFatal) {
    CUdpEvents other(context_, {}, {}, {});          // no callbacks: the steady clock, no state
    EXPECT_FALSE(other.Start("127.0.0.1", Port()));  // ours has it
    EXPECT_NE(other.LastError().find("cannot bind"), std::string::npos) << other.LastError();
    EXPECT_FALSE(other.Start("no.such.address", 0));
    EXPECT_FALSE(other.LastError().empty());
    EXPECT_FALSE(other.Start("::1", 0));
    EXPECT_FALSE(events_->Start("127.0.0.1", 0));  // already started
    other.ExpireSilent();
    // Ours is untouched.
    Peer peer;
    Join(peer);
}

TEST_F(UdpEvents, DestructionWithAReceivePendingInARunningContext) {
    Peer peer;
    Join(peer);
    const std::uint16_t port = Port();
    events_.reset();
    peer.Send(Make(1, 0), port);
    EXPECT_FALSE(peer.Receive(100ms));
}

TEST_F(UdpEvents, DestructionBeforeTheContextGetsToTheReceive) {
    // A context nobody runs yet: the aborted receive is handled after the object is gone.
    asio::io_context idle;
    auto events = MakeEvents(idle);
    ASSERT_TRUE(events->Start("127.0.0.1", 0));
    Peer peer;
    peer.Send(Make(3, 0), events->Port());
    events.reset();
    traces_.Clear();
    idle.run_for(200ms);
    EXPECT_TRUE(idle.stopped());           // nothing of ours left in it
    EXPECT_TRUE(traces_.Lines().empty());  // a stop is no failure of the socket
    EXPECT_FALSE(peer.Receive(50ms));
}

}  // namespace
}  // namespace torvane
