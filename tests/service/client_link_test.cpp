// The agent's TCP server and its local-panel sender, over real sockets on 127.0.0.1 and a sender
// the test controls: messages that arrive in pieces, a client that never reads, the last
// messages before the agent closes, a panel that hangs or goes.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "client_link.h"
#include "local_link.h"
#include "ups_lib/config.h"

namespace torvane {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class RecordingOwner : public LinkOwner {
  public:
    std::string LinkPassword() override { return "pw"; }
    void OnClientAccepted(ClientId client) override {
        std::lock_guard lock(mutex);
        accepted.push_back(client);
    }
    void OnClientMessage(ClientId, ups::link::Message& message) override {
        std::lock_guard lock(mutex);
        codes.push_back(message.code);
        if (auto* c = message.As<ups::CConfig>()) delays.push_back(c->acFailDelay);
        if (message.code == ups::link::kTestMinutes) delays.push_back(message.number);
    }
    std::mutex mutex;
    std::vector<ClientId> accepted;
    std::vector<std::int32_t> codes;
    std::vector<std::int32_t> delays;
};

// The link on a context of its own thread, as on the frame's; every call goes through Run.
class ClientLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Run([&] {
            std::string problem;
            ASSERT_TRUE(link_->Listen("127.0.0.1", 0, problem)) << problem;
        });
    }
    void TearDown() override {
        Run([&] { link_.reset(); });
        work_.reset();
        thread_.join();
    }
    template <typename Fn>
    void Run(Fn fn) {
        std::promise<void> done;
        asio::post(context_, [&] {
            fn();
            done.set_value();
        });
        done.get_future().wait();
    }
    std::uint16_t Port() {
        std::uint16_t port = 0;
        Run([&] { port = link_->Port(); });
        return port;
    }
    tcp::socket Connect() {
        tcp::socket s(client_context_);
        s.connect({asio::ip::address_v4::loopback(), Port()});
        return s;
    }
    static void Put(tcp::socket& s, const Bytes& b) { asio::write(s, asio::buffer(b)); }
    bool WaitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(owner_.mutex);
                if (done()) return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::size_t Clients() {
        std::size_t n = 0;
        Run([&] { n = link_->ClientCount(); });
        return n;
    }

    RecordingOwner owner_;
    asio::io_context context_;
    asio::io_context client_context_;
    std::unique_ptr<CClientLink> link_ = std::make_unique<CClientLink>(context_, owner_);
    asio::executor_work_guard<asio::io_context::executor_type> work_ =
        asio::make_work_guard(context_);
    std::thread thread_{[this] { context_.run(); }};
};

TEST_F(ClientLinkTest, MessagesInPiecesAndSeveralInOneWriteAreTakenWhole) {
    auto s = Connect();
    Bytes all = ups::link::EncodeText(ups::link::kPassword, "pw");
    ups::CConfig config;
    config.acFailDelay = 42;
    for (const Bytes& m : {ups::link::EncodeRecord(ups::link::kConfig, config),
                           ups::link::EncodeNumber(ups::link::kTestMinutes, 7),
                           ups::link::Encode(ups::link::kToggleBeeper)})
        all.insert(all.end(), m.begin(), m.end());
    // Byte by byte up to the middle of the configuration, then the rest at once.
    const std::size_t half = all.size() / 2;
    for (std::size_t i = 0; i < half; ++i) {
        Put(s, Bytes{all[i]});
        if (i % 16 == 0) std::this_thread::sleep_for(1ms);
    }
    Put(s, Bytes(all.begin() + static_cast<long>(half), all.end()));
    ASSERT_TRUE(WaitFor([&] { return owner_.codes.size() == 3; }));
    EXPECT_EQ(owner_.accepted.size(), 1u);
    EXPECT_EQ(owner_.codes, (std::vector<std::int32_t>{4, 31, 18}));
    EXPECT_EQ(owner_.delays, (std::vector<std::int32_t>{42, 7}));
}

TEST_F(ClientLinkTest, AClientThatNeverReadsIsDroppedOnceTooMuchWaitsForIt) {
    auto s = Connect();
    Put(s, ups::link::EncodeText(ups::link::kPassword, "pw"));
    ASSERT_TRUE(WaitFor([&] { return owner_.accepted.size() == 1; }));
    auto other = Connect();
    Put(other, ups::link::EncodeText(ups::link::kPassword, "pw"));
    ASSERT_TRUE(WaitFor([&] { return owner_.accepted.size() == 2; }));
    const Bytes big(1024 * 1024, 0x55);
    // The other one reads all it gets, so only the first falls behind.
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        std::vector<std::uint8_t> sink(65536);
        asio::error_code ec;
        while (reading && !ec) other.read_some(asio::buffer(sink), ec);
    });
    // Paced, so that the reader keeps up.
    for (int i = 0; i < 40 && Clients() == 2; ++i) {
        Run([&] { link_->SendAll(big); });
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(Clients(), 1u);
    reading = false;
    other.shutdown(tcp::socket::shutdown_both);  // wakes the reader; a close would not
    reader.join();
}

TEST_F(ClientLinkTest, AClientThatStopsReadingIsDroppedAfterTheStallTimeWhileOthersGoOn) {
    Run([&] {
        link_ = std::make_unique<CClientLink>(context_, owner_, 300ms);
        std::string problem;
        ASSERT_TRUE(link_->Listen("127.0.0.1", 0, problem)) << problem;
    });
    auto stuck = Connect();
    Put(stuck, ups::link::EncodeText(ups::link::kPassword, "pw"));
    ASSERT_TRUE(WaitFor([&] { return owner_.accepted.size() == 1; }));
    auto other = Connect();
    Put(other, ups::link::EncodeText(ups::link::kPassword, "pw"));
    ASSERT_TRUE(WaitFor([&] { return owner_.accepted.size() == 2; }));
    // Far below the per-client limit, but more than the sockets' buffers hold: the stuck
    // client's write cannot finish.
    const Bytes big(8 * 1024 * 1024, 0x55);
    std::atomic<std::size_t> got{0};
    std::thread reader([&] {
        std::vector<std::uint8_t> sink(65536);
        asio::error_code ec;
        while (!ec) got += other.read_some(asio::buffer(sink), ec);
    });
    Run([&] { link_->SendAll(big); });
    for (int i = 0; i < 300 && Clients() == 2; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(Clients(), 1u);
    // The one that reads got the whole message, and gets the next one too.
    Run([&] { link_->SendAll(ups::link::Encode(ups::link::kBatteryLow)); });
    for (int i = 0; i < 500 && got < big.size() + 4; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(got.load(), big.size() + 4);
    // The stuck one finds its connection ended once it reads again.
    asio::error_code ec;
    std::vector<std::uint8_t> sink(1 << 20);
    while (!ec) stuck.read_some(asio::buffer(sink), ec);
    EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
    other.shutdown(tcp::socket::shutdown_both);
    reader.join();
}

TEST_F(ClientLinkTest, ClosingLetsTheLastMessagesOutAndThenEndsTheConnection) {
    auto s = Connect();
    Put(s, ups::link::EncodeText(ups::link::kPassword, "pw"));
    ASSERT_TRUE(WaitFor([&] { return owner_.accepted.size() == 1; }));
    Run([&] {
        link_->SendAll(ups::link::Encode(ups::link::kBatteryLow));
        link_->CloseAll();
    });
    Bytes got;
    asio::error_code ec;
    std::vector<std::uint8_t> piece(64);
    while (!ec) {
        const std::size_t n = s.read_some(asio::buffer(piece), ec);
        got.insert(got.end(), piece.begin(), piece.begin() + static_cast<long>(n));
    }
    EXPECT_EQ(ec, asio::error::eof);
    EXPECT_EQ(got, ups::link::Encode(ups::link::kBatteryLow));
    EXPECT_EQ(Clients(), 0u);
}

TEST_F(ClientLinkTest, OneAddressMayKeepOnlyEightConnectionsWaitingToLogOn) {
    std::vector<tcp::socket> waiting;
    for (std::size_t i = 0; i < CClientLink::kMaxWaitingPerAddress; ++i)
        waiting.push_back(Connect());
    for (int i = 0; i < 100 && Clients() < CClientLink::kMaxWaitingPerAddress; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(Clients(), CClientLink::kMaxWaitingPerAddress);
    auto refused = Connect();
    std::array<std::uint8_t, 4> piece{};
    asio::error_code ec;
    refused.read_some(asio::buffer(piece), ec);
    EXPECT_EQ(ec, asio::error::eof);
    // One that logs on makes room for another.
    Put(waiting.front(), ups::link::EncodeText(ups::link::kPassword, "pw"));
    ASSERT_TRUE(WaitFor([&] { return owner_.accepted.size() == 1; }));
    auto next = Connect();
    Put(next, ups::link::EncodeText(ups::link::kPassword, "pw"));
    EXPECT_TRUE(WaitFor([&] { return owner_.accepted.size() == 2; }));
}

TEST_F(ClientLinkTest, BeforeThePasswordNothingElseIsEvenDecoded) {
    ups::CConfig config;
    const std::vector<Bytes> strangers = {
        ups::link::Encode(ups::link::kGetConfig),
        ups::link::EncodeRecord(ups::link::kConfig, config),
        ups::link::EncodeText(ups::link::kPassword,
                              std::string(CClientLink::kMaxPassword + 1, 'x')),
        // Only the start of a password that announces a megabyte.
        Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x40, 0x42, 0x0F, 0x00},
    };
    for (const Bytes& message : strangers) {
        auto s = Connect();
        Put(s, message);
        std::array<std::uint8_t, 4> piece{};
        asio::error_code ec;
        s.read_some(asio::buffer(piece), ec);
        EXPECT_EQ(ec, asio::error::eof) << message.size() << " bytes";
    }
    EXPECT_TRUE(owner_.accepted.empty());
    EXPECT_TRUE(owner_.codes.empty());
}

TEST(ClientLinkPenalty, ThreeGuessesAreFreeThenTheWaitDoublesUpToItsLimit) {
    std::vector<long> waits;
    for (int wrong = 1; wrong <= 10; ++wrong)
        waits.push_back(CClientLink::PenaltyFor(wrong).count());
    EXPECT_EQ(waits, (std::vector<long>{0, 0, 0, 1, 2, 4, 8, 16, 20, 20}));
}

// ---- the local panel

struct ScriptedPanel {
    std::mutex mutex;
    std::vector<std::uint32_t> got;
    platform::CopyDataStatus answer = platform::CopyDataStatus::kDelivered;
    std::promise<void> entered;
    std::shared_future<void> release;  // when set, a delivery waits for it
    bool signalled = false;

    CLocalLink::Sender Sender() {
        return [this](const CLocalLink::Outgoing& m) {
            std::shared_future<void> wait;
            platform::CopyDataResult r;
            {
                std::lock_guard lock(mutex);
                got.push_back(m.code);
                r.status = answer;
                wait = release;
                if (wait.valid() && !signalled) {
                    signalled = true;
                    entered.set_value();
                }
            }
            if (wait.valid()) wait.wait();
            return r;
        };
    }
    std::vector<std::uint32_t> Got() {
        std::lock_guard lock(mutex);
        return got;
    }
};

TEST(LocalLink, MessagesGoInOrderOnlyWhileAPanelIsRegistered) {
    ScriptedPanel panel;
    CLocalLink link(panel.Sender());
    link.Send(15);  // nobody registered yet
    link.Register();
    for (std::uint32_t c : {19u, 35u, 16u, 17u}) link.Send(c);
    link.Flush();
    link.Forget();
    link.Send(15);
    link.Flush();
    EXPECT_EQ(panel.Got(), (std::vector<std::uint32_t>{19, 35, 16, 17}));
}

TEST(LocalLink, APanelThatHangsOrHasGoneIsForgottenWithWhatWaitsForIt) {
    for (auto failure : {platform::CopyDataStatus::kTimedOut, platform::CopyDataStatus::kNoWindow,
                         platform::CopyDataStatus::kBroken}) {
        ScriptedPanel panel;
        std::promise<void> go;
        panel.release = go.get_future().share();
        panel.answer = failure;
        CLocalLink link(panel.Sender());
        link.Register();
        link.Send(15);
        panel.entered.get_future().wait();  // the first is being delivered
        link.Send(23);
        link.Send(25);
        go.set_value();
        link.Flush();
        EXPECT_FALSE(link.Registered());
        EXPECT_EQ(panel.Got(), (std::vector<std::uint32_t>{15}));
        // It may come back, and is then served afresh.
        panel.answer = platform::CopyDataStatus::kDelivered;
        link.Register();
        link.Send(19);
        link.Flush();
        EXPECT_EQ(panel.Got(), (std::vector<std::uint32_t>{15, 19}));
    }
}

TEST(LocalLink, ARefusedMessageCostsOnlyItselfAndAFullQueueForgetsThePanel) {
    ScriptedPanel panel;
    panel.answer = platform::CopyDataStatus::kRefused;
    CLocalLink link(panel.Sender());
    link.Register();
    link.Send(44);
    link.Flush();
    EXPECT_TRUE(link.Registered());

    std::promise<void> go;
    panel.release = go.get_future().share();
    panel.answer = platform::CopyDataStatus::kDelivered;
    link.Send(15);
    panel.entered.get_future().wait();
    for (std::size_t i = 0; i <= CLocalLink::kMaxQueued; ++i) link.Send(15);
    EXPECT_FALSE(link.Registered());
    go.set_value();
    link.Flush();
    EXPECT_EQ(panel.Got().size(), 2u);  // the refused one and the one under way
}

TEST(LocalLink, AFailureOfAnEarlierPanelDoesNotForgetTheNextOne) {
    ScriptedPanel panel;
    std::promise<void> go;
    panel.release = go.get_future().share();
    panel.answer = platform::CopyDataStatus::kTimedOut;
    CLocalLink link(panel.Sender());
    link.Register();
    link.Send(15);
    panel.entered.get_future().wait();
    link.Forget();  // it said goodbye, and a new one registers while the old send hangs
    link.Register();
    go.set_value();
    link.Flush();
    EXPECT_TRUE(link.Registered());
}

}  // namespace
}  // namespace torvane
