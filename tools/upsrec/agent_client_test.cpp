// upsrec --agent against a stand-in agent: a thread of this test that listens on a loopback
// port and answers with canned messages made by the link's own Encode. It stands in for the
// agent only until the agent serves the link; the end-to-end tests then run against the agent.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "agent_client.h"
#include "agent_commands.h"
#include "common.h"
#include "ups_lib/config.h"
#include "ups_lib/link_message.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"

namespace upsrec {
namespace {

namespace lk = ups::link;
using Bytes = std::vector<std::uint8_t>;

// The client's side of the conversation as the stand-in saw it.
struct Seen {
    std::vector<std::int32_t> codes;
    std::vector<std::string> texts;
    std::vector<std::int32_t> numbers;
    std::vector<std::shared_ptr<ups::Serializable>> records;
};

class StandInPeer final : public ups::ByteSource {
  public:
    explicit StandInPeer(asio::ip::tcp::socket& s) : socket_(s) {}
    std::size_t Read(std::span<std::uint8_t> out) override {
        asio::error_code ec;
        const std::size_t n = socket_.read_some(asio::buffer(out.data(), out.size()), ec);
        if (ec == asio::error::eof) return 0;
        if (ec) throw ups::ArchiveError(ups::ArchiveErrc::Io, ec.message());
        return n;
    }
    void Send(const Bytes& b) { asio::write(socket_, asio::buffer(b)); }
    // The next message from the client, recorded.
    lk::Message Next() {
        lk::Message m = lk::Read(lk::Direction::ToAgent, *this);
        seen.codes.push_back(m.code);
        if (m.payload == lk::Payload::Text) seen.texts.push_back(m.text);
        if (m.payload == lk::Payload::Number) seen.numbers.push_back(m.number);
        if (m.record) seen.records.emplace_back(std::move(m.record));
        return m;
    }
    // Reads until the client's goodbye (or its close), as the agent would.
    void UntilGoodbye() {
        try {
            while (Next().code != lk::kGoodbye) {
            }
        } catch (const ups::ArchiveError&) {
        }
    }
    Seen seen;

  private:
    asio::ip::tcp::socket& socket_;
};

// Accepts one client and runs `script` with it on a thread of its own.
class StandInAgent {
  public:
    using Script = std::function<void(StandInPeer&)>;
    explicit StandInAgent(Script script)
        : acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
        port_ = acceptor_.local_endpoint().port();
        thread_ = std::thread([this, script = std::move(script)] {
            try {
                asio::ip::tcp::socket socket(io_);
                acceptor_.accept(socket);
                StandInPeer peer(socket);
                script(peer);
                seen_.set_value(peer.seen);
            } catch (...) {
                seen_.set_exception(std::current_exception());
            }
        });
    }
    ~StandInAgent() {
        asio::error_code ec;
        acceptor_.close(ec);
        if (thread_.joinable()) thread_.join();
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    Seen Result() { return seen_.get_future().get(); }

  private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    std::promise<Seen> seen_;
    std::thread thread_;
};

// The password check and the state burst of an agent that talks to a standby UPS on battery.
void Login(StandInPeer& p, const std::string& password = "") {
    const auto m = p.Next();
    ASSERT_EQ(m.code, lk::kPassword);
    if (m.text != password) {
        p.Send(lk::Encode(lk::kWrongPassword));
        return;
    }
    for (auto code :
         {lk::kConnected, lk::kUtilityFailed, lk::kStandbyType, lk::kBoosting, lk::kNotOnBypass})
        p.Send(lk::Encode(code));
    ups::CUPSBasicInfo basic;
    basic.Set({"#raw", "Stavlen", "SP-700", "1.0"});
    p.Send(lk::EncodeRecord(lk::kBasicInfo, basic));
    ups::CUPSRatingInfo rating;
    rating.Set({"#r", 2300, 30, 1200, 500});
    p.Send(lk::EncodeRecord(lk::kRatingInfo, rating));
}

Bytes StatusMessage(std::int32_t capacity) {
    ups::CUPSStatus status;
    ups::UPSStatusValues v;
    v.inputVoltage = 0;
    v.batteryCapacity = capacity;
    v.status = ups::kUtilityFail;
    status.Set(v);
    return lk::EncodeRecord(lk::kStatus, status);
}

std::string RunOk(std::vector<std::string> args) {
    std::string out;
    EXPECT_EQ(RunAgent(args, out), 0);
    return out;
}

std::string FailureOf(std::vector<std::string> args) {
    std::string out;
    try {
        RunAgent(args, out);
    } catch (const Failure& e) {
        return e.what();
    }
    ADD_FAILURE() << "no failure";
    return {};
}

TEST(AgentClient, ShowStatusWaitsForAStatusAndShowsTheBurstsState) {
    StandInAgent agent([](StandInPeer& p) {
        Login(p, "pw");
        p.Send(lk::EncodeNumber(lk::kCountdown, 90));
        p.Send(StatusMessage(73));
        p.UntilGoodbye();
    });
    const std::string text =
        RunOk({"--agent", agent.Address(), "--password", "pw", "show", "status"});
    EXPECT_NE(text.find("connected to UPS    yes"), std::string::npos) << text;
    EXPECT_NE(text.find("utility failed      yes"), std::string::npos) << text;
    EXPECT_NE(text.find("UPS type            standby"), std::string::npos) << text;
    EXPECT_NE(text.find("boost/buck          boost"), std::string::npos) << text;
    EXPECT_NE(text.find("battery low         unknown"), std::string::npos) << text;
    EXPECT_NE(text.find("shutdown countdown  90 s"), std::string::npos) << text;
    EXPECT_NE(text.find("battery capacity    73 %"), std::string::npos) << text;
    const Seen seen = agent.Result();
    EXPECT_EQ(seen.codes, (std::vector<std::int32_t>{lk::kPassword, lk::kGoodbye}));
    EXPECT_EQ(seen.texts, (std::vector<std::string>{"pw"}));
}

TEST(AgentClient, ShowStatusAsJson) {
    StandInAgent agent([](StandInPeer& p) {
        Login(p);
        p.Send(StatusMessage(55));
        p.UntilGoodbye();
    });
    const auto j =
        nlohmann::json::parse(RunOk({"--agent", agent.Address(), "--json", "show", "status"}));
    EXPECT_EQ(j["connected"], true);
    EXPECT_EQ(j["bypass"], false);
    EXPECT_TRUE(j["batteryLow"].is_null());
    EXPECT_EQ(j["type"], "standby");
    EXPECT_EQ(j["status"]["batteryCapacity"], 55);
    // Without --password the password is empty, not absent.
    EXPECT_EQ(agent.Result().texts, (std::vector<std::string>{""}));
}

TEST(AgentClient, RequestsSkipUnrelatedMessagesUntilTheirReply) {
    StandInAgent agent([](StandInPeer& p) {
        Login(p);
        EXPECT_EQ(p.Next().code, lk::kGetConfig);
        p.Send(StatusMessage(10));
        p.Send(lk::Encode(lk::kBatteryLow));
        ups::CSchedule unrelated;  // a record of another kind must not be taken for the reply
        p.Send(lk::EncodeRecord(lk::kSchedule, unrelated));
        ups::CConfig c;
        c.mailServer = "mail.example.org";
        c.comPort = 1;
        p.Send(lk::EncodeRecord(lk::kConfig, c));
        p.UntilGoodbye();
    });
    const std::string text = RunOk({"--agent", agent.Address(), "show", "config"});
    EXPECT_NE(text.find("mail.example.org"), std::string::npos) << text;
    EXPECT_NE(text.find("COM2"), std::string::npos) << text;
}

TEST(AgentClient, SetConfigChangesTheAgentsRecordAndSendsItBack) {
    StandInAgent agent([](StandInPeer& p) {
        Login(p);
        EXPECT_EQ(p.Next().code, lk::kGetConfig);
        ups::CConfig c;
        c.mailServer = "kept.example.org";
        c.acFailDelay = 3;
        p.Send(lk::EncodeRecord(lk::kConfig, c));
        // Taken: the record asked for again is the one sent.
        EXPECT_EQ(p.Next().code, lk::kConfig);
        EXPECT_EQ(p.Next().code, lk::kGetConfig);
        p.Send(lk::EncodeRecord(lk::kConfig, *p.seen.records.back()));
        p.UntilGoodbye();
    });
    RunOk({"--agent", agent.Address(), "set", "config", "comPort=2", "agentPassword=new pw"});
    const Seen seen = agent.Result();
    ASSERT_EQ(seen.codes, (std::vector<std::int32_t>{lk::kPassword, lk::kGetConfig, lk::kConfig,
                                                     lk::kGetConfig, lk::kGoodbye}));
    ASSERT_EQ(seen.records.size(), 1u);
    const auto* c = dynamic_cast<const ups::CConfig*>(seen.records[0].get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->comPort, 2);
    EXPECT_EQ(c->agentPassword, "new pw");
    EXPECT_EQ(c->mailServer, "kept.example.org");  // the agent's fields, not the defaults
    EXPECT_EQ(c->acFailDelay, 3);
}

TEST(AgentClient, SetScheduleAndABadWordSendsNothing) {
    auto script = [](StandInPeer& p) {
        Login(p);
        EXPECT_EQ(p.Next().code, lk::kGetSchedule);
        ups::CSchedule s;
        s.Add(ups::CScheduleDetail(ups::kShutdown, 0, 0, 1000));
        s.Add(ups::CScheduleDetail(ups::kSelfTest, 0, 5, 2000));
        p.Send(lk::EncodeRecord(lk::kSchedule, s));
        try {
            if (p.Next().code != lk::kSchedule || p.Next().code != lk::kGetSchedule) return;
        } catch (const ups::ArchiveError&) {
            return;  // a bad word: the client sent nothing and left
        }
        p.Send(lk::EncodeRecord(lk::kSchedule, *p.seen.records.back()));
        p.UntilGoodbye();
    };
    {
        StandInAgent agent(script);
        RunOk({"--agent", agent.Address(), "set", "schedule", "remove=0", "0.testLength=7"});
        const Seen seen = agent.Result();
        ASSERT_EQ(seen.records.size(), 1u);
        const auto entries = dynamic_cast<ups::CSchedule&>(*seen.records[0]).Entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].event, ups::kSelfTest);
        EXPECT_EQ(entries[0].testLength, 7);
    }
    {
        StandInAgent agent(script);
        const std::string why =
            FailureOf({"--agent", agent.Address(), "set", "schedule", "0.testLength=-5"});
        EXPECT_FALSE(why.empty());
        const Seen seen = agent.Result();
        EXPECT_TRUE(seen.records.empty());
        EXPECT_EQ(seen.codes, (std::vector<std::int32_t>{lk::kPassword, lk::kGetSchedule}));
    }
}

TEST(AgentClient, AChangeTheAgentDidNotTakeIsAnError) {
    auto initial = [](StandInPeer& p) {
        Login(p);
        EXPECT_EQ(p.Next().code, lk::kGetConfig);
        p.Send(lk::EncodeRecord(lk::kConfig, *std::make_unique<ups::CConfig>()));
        EXPECT_EQ(p.Next().code, lk::kConfig);
    };
    {
        // Refused: the agent lets go of a client that may not change anything.
        StandInAgent agent([&](StandInPeer& p) { initial(p); });
        const std::string why =
            FailureOf({"--agent", agent.Address(), "set", "config", "acFailDelay=7"});
        EXPECT_NE(why.find("did not take the change"), std::string::npos) << why;
    }
    {
        // Ignored: the record read back is the one it held before.
        StandInAgent agent([&](StandInPeer& p) {
            initial(p);
            EXPECT_EQ(p.Next().code, lk::kGetConfig);
            p.Send(lk::EncodeRecord(lk::kConfig, *std::make_unique<ups::CConfig>()));
            p.UntilGoodbye();
        });
        const std::string why =
            FailureOf({"--agent", agent.Address(), "set", "config", "acFailDelay=7"});
        EXPECT_NE(why.find("did not take the change"), std::string::npos) << why;
    }
    {
        // Kept otherwise: what it holds afterwards is neither what was sent nor what was read.
        StandInAgent agent([&](StandInPeer& p) {
            initial(p);
            EXPECT_EQ(p.Next().code, lk::kGetConfig);
            auto other = std::make_unique<ups::CConfig>();
            other->acFailDelay = 8;
            p.Send(lk::EncodeRecord(lk::kConfig, *other));
            p.UntilGoodbye();
        });
        const std::string why =
            FailureOf({"--agent", agent.Address(), "set", "config", "acFailDelay=7"});
        EXPECT_NE(why.find("other than sent"), std::string::npos) << why;
    }
}

TEST(AgentClient, CommandsSendTheirCodes) {
    const std::pair<std::vector<std::string>, std::int32_t> cases[] = {
        {{"beeper"}, lk::kToggleBeeper},        {{"test10"}, lk::kTest10s},
        {{"testlow"}, lk::kTestToLow},          {{"test", "15"}, lk::kTestMinutes},
        {{"cancel"}, lk::kCancelTest},          {{"clear-eventlog"}, lk::kClearEventLog},
        {{"clear-datalog"}, lk::kClearDataLog},
    };
    for (const auto& [words, code] : cases) {
        SCOPED_TRACE(words[0]);
        StandInAgent agent([](StandInPeer& p) {
            Login(p);
            p.UntilGoodbye();
        });
        std::vector<std::string> args{"--agent", agent.Address()};
        args.insert(args.end(), words.begin(), words.end());
        RunOk(args);
        const Seen seen = agent.Result();
        EXPECT_EQ(seen.codes, (std::vector<std::int32_t>{lk::kPassword, code, lk::kGoodbye}));
        if (code == lk::kTestMinutes) {
            EXPECT_EQ(seen.numbers, (std::vector<std::int32_t>{15}));
        }
    }
}

TEST(AgentClient, ClearErrors) {
    {
        StandInAgent agent([](StandInPeer& p) { Login(p, "right"); });
        EXPECT_EQ(FailureOf({"--agent", agent.Address(), "--password", "wrong", "show", "config"}),
                  "wrong password");
    }
    {
        // Silent after the password: the wait ends at the time limit.
        std::promise<void> release;
        auto released = release.get_future().share();
        StandInAgent agent([released](StandInPeer& p) {
            p.Next();
            released.wait();
        });
        const auto start = std::chrono::steady_clock::now();
        const std::string why =
            FailureOf({"--agent", agent.Address(), "--timeout", "1", "show", "status"});
        release.set_value();
        EXPECT_NE(why.find("time limit"), std::string::npos) << why;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    {
        StandInAgent agent([](StandInPeer& p) {
            Login(p);
            p.Next();
            // Closes before the reply.
        });
        const std::string why = FailureOf({"--agent", agent.Address(), "show", "eventlog"});
        EXPECT_NE(why.find("closed the connection"), std::string::npos) << why;
    }
    {
        StandInAgent agent([](StandInPeer& p) {
            Login(p);
            p.Next();
            // An event log announcing more records than any message may hold.
            p.Send({8, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F});
            p.UntilGoodbye();
        });
        const std::string why = FailureOf({"--agent", agent.Address(), "show", "eventlog"});
        EXPECT_NE(why.find("malformed"), std::string::npos) << why;
    }
    {
        // A port nobody listens on: take one and give it back.
        std::uint16_t port = 0;
        {
            asio::io_context io;
            asio::ip::tcp::acceptor a(io, {asio::ip::address_v4::loopback(), 0});
            port = a.local_endpoint().port();
        }
        const std::string why =
            FailureOf({"--agent", "127.0.0.1:" + std::to_string(port), "show", "status"});
        EXPECT_NE(why.find("connection refused"), std::string::npos) << why;
    }
    {
        const std::string why =
            FailureOf({"--agent", "no-such-host.invalid", "--timeout", "3", "show", "status"});
        EXPECT_NE(why.find("no-such-host.invalid"), std::string::npos) << why;
    }
}

TEST(AgentClient, ArgumentsAreCheckedBeforeConnecting) {
    EXPECT_EQ(ParseAgentAddress("host", 2570).port, 2570);
    EXPECT_EQ(ParseAgentAddress("host:1", 2570).port, 1);
    EXPECT_EQ(ParseAgentAddress("[::1]:99", 2570).host, "::1");
    EXPECT_EQ(ParseAgentAddress("[::1]:99", 2570).port, 99);
    EXPECT_EQ(ParseAgentAddress("fe80::1", 7).host, "fe80::1");
    EXPECT_THROW(ParseAgentAddress("host:0", 2570), Failure);
    EXPECT_THROW(ParseAgentAddress("host:65536", 2570), Failure);
    EXPECT_THROW(ParseAgentAddress(":80", 2570), Failure);
    EXPECT_THROW(ParseAgentAddress("[::1", 2570), Failure);
    // Nothing listens at port 9: a bad word must fail before any connection is tried.
    EXPECT_NE(FailureOf({"--agent", "127.0.0.1:9", "test", "0"}).find("MINUTES"),
              std::string::npos);
    EXPECT_NE(FailureOf({"--agent", "127.0.0.1:9", "show", "nonsense"}).find("unknown KIND"),
              std::string::npos);
    EXPECT_NE(FailureOf({"--agent", "127.0.0.1:9", "reboot"}).find("unknown command"),
              std::string::npos);
    EXPECT_NE(FailureOf({"--agent", "127.0.0.1:9", "set", "config"}).find("nothing to change"),
              std::string::npos);
}

}  // namespace
}  // namespace upsrec
