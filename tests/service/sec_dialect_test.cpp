#include "sec_dialect.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace torvane {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;

// Time that passes only when somebody waits.
class FakeClock final : public SecClock {
  public:
    void Wait(milliseconds ms) override {
        now_ += ms;
        waits.push_back(ms.count());
    }
    std::chrono::steady_clock::time_point Now() override { return now_; }
    milliseconds Elapsed() const {
        return std::chrono::duration_cast<milliseconds>(now_ -
                                                        std::chrono::steady_clock::time_point{});
    }
    std::vector<long long> waits;

  private:
    std::chrono::steady_clock::time_point now_{};
};

// A UPS that answers each query from a table. A query with a scripted list of replies uses
// them in turn ("" = no reply that time) and then keeps the last one.
class ScriptedUps final : public CCommLink {
  public:
    std::map<std::string, std::deque<std::string>> replies;
    std::vector<std::string> sent;
    std::string waiting;

    int Read(char* buffer, int maxBytes) override {
        const std::size_t n = std::min(waiting.size(), static_cast<std::size_t>(maxBytes));
        std::copy_n(waiting.data(), n, buffer);
        waiting.erase(0, n);
        return static_cast<int>(n);
    }
    int Write(const char* text) override {
        sent.emplace_back(text);
        auto it = replies.find(text);
        if (it != replies.end() && !it->second.empty()) {
            waiting += it->second.front();
            if (it->second.size() > 1) it->second.pop_front();
        }
        return static_cast<int>(sent.back().size());
    }
    void Close() override {}
    void SetEventChar(char) override {}
    void SetWriteSignal(int flag) override { writeSignal_ = flag; }
};

std::string Data(std::string_view fields) {
    char length[8];
    std::snprintf(length, sizeof length, "%03zu", fields.size());
    return "^D" + std::string(length) + std::string(fields);
}

// A healthy on-line unit on utility power, beeper enabled.
void Healthy(ScriptedUps& ups) {
    ups.replies = {
        {"^P003ST2", {Data("0,1,500,2300")}},
        {"^P003NOM", {Data("230,50,230,50,1000,800,5,2")}},
        {"^P003ST3", {Data("0,500,1,2300,210")}},
        {"^P003ST1", {Data("0,0,0,0,45,1000,270,0,25")}},
        {"^P003ST5", {Data("0,0,0,0,0,0,0,0")}},
        {"^P003STR", {Data("0")}},
        {"^P003MAN", {Data("Stavlen")}},
        {"^P003MOD", {Data("SEC-3000")}},
        {"^P003VER", {Data("2.1")}},
    };
}

class SecTest : public ::testing::Test {
  protected:
    SecLine Line() {
        return SecLine{.link = ups,
                       .clock = clock,
                       .purge = [this](int flags) { purges.push_back(flags); },
                       .send = {},
                       .stopping = [this] { return stop; }};
    }
    ScriptedUps ups;
    FakeClock clock;
    std::vector<int> purges;
    bool stop = false;
};

TEST_F(SecTest, PollRebuildsQ1LinesFromTwelveSteps) {
    Healthy(ups);
    const SecPollResult r = RunSecPoll(Line());
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.statusLine, "(230.0 230.0 230.0 021 50.0 27.0 25.0 00000001\r");
    EXPECT_EQ(r.statusLine.size(), 47u);
    EXPECT_EQ(r.infoLine, "#Stavlen         SEC-3000   2.1       \r");
    EXPECT_EQ(r.infoLine.size(), 39u);
    EXPECT_EQ(r.capacity, 1000);
    EXPECT_EQ(r.beeper, 2);
    EXPECT_TRUE(r.notifications.empty());
    EXPECT_EQ(r.st2Reply, Data("0,1,500,2300"));
    EXPECT_THAT(ups.sent,
                ElementsAre("^P003ST2", "^P003NOM", "^P003ST3", "^P003ST1", "^P003ST5", "^P003STR",
                            "^P003ST5", "^P003NOM", "^P003MAN", "^P003MOD", "^P003VER"));
    EXPECT_EQ(ups.WriteSignal(), 1) << "a query tells the reader a reply is due";
}

TEST_F(SecTest, PollStatusBitsFollowTheirFields) {
    Healthy(ups);
    // On battery, battery low, boosting, a test running, shutdown pending, alarm disabled.
    ups.replies["^P003ST2"] = {Data("0,1,0,0")};
    ups.replies["^P003ST3"] = {Data("4,500,1,2200,450")};
    ups.replies["^P003ST1"] = {Data("0,1,0,120,3,150,95,0,5")};
    ups.replies["^P003ST5"] = {Data("0,1,0,0,0,0,1,0")};
    ups.replies["^P003STR"] = {Data("2")};
    ups.replies["^P003NOM"] = {Data("230,50,230,50,1000,800,5,1")};
    SecPollResult r = RunSecPoll(Line());
    EXPECT_EQ(r.statusLine, "(000.0 230.0 220.0 045 00.0 9.50 05.0 11100110\r");
    EXPECT_EQ(r.capacity, 150);
    EXPECT_EQ(r.beeper, 1);
    EXPECT_THAT(r.notifications, ElementsAre(15));

    // Depleted battery (UPS failed), bucking, hundredths of a volt, alarm muted-on (4).
    ups.sent.clear();
    ups.replies["^P003ST1"] = {Data("0,2,0,0,0,0,2712,0,31")};
    ups.replies["^P003ST3"] = {Data("3,500,1,2300,210")};
    ups.replies["^P003ST5"] = {Data("0,0,0,0,0,0,0,0")};
    ups.replies["^P003STR"] = {Data("1")};
    ups.replies["^P003NOM"] = {Data("230,50,230,50,1000,800,5,4")};
    r = RunSecPoll(Line());
    EXPECT_EQ(r.statusLine.substr(28), "27.1 31.0 01110001\r");
    EXPECT_THAT(r.notifications, ElementsAre(16));

    // Bypass: bit 5 without a boost or buck report.
    ups.replies["^P003ST3"] = {Data("2,500,1,2300,210")};
    r = RunSecPoll(Line());
    EXPECT_EQ(r.statusLine[40], '1');
    EXPECT_TRUE(r.notifications.empty());
}

TEST_F(SecTest, PollKeepsQ1ColumnsForValuesTheyCannotShow) {
    Healthy(ups);
    ups.replies["^P003ST2"] = {Data("0,1,99999,-50")};
    ups.replies["^P003NOM"] = {Data("99999,50")};
    ups.replies["^P003ST3"] = {Data("0,500,1,123456,-7")};
    ups.replies["^P003ST1"] = {Data("0,0,0,0,0,0,999999,0,-40")};
    ups.replies["^P003ST5"] = {Data("0,7,0,0,0,0,3,0")};
    const SecPollResult r = RunSecPoll(Line());
    EXPECT_EQ(r.statusLine, "(000.0 999.9 999.9 000 99.9 99.9 00.0 10000010\r");

    // The nominal voltage is read like a number: its digits up to the first other character.
    ups.replies["^P003NOM"] = {Data("229.6,50")};
    EXPECT_EQ(RunSecPoll(Line()).statusLine.substr(7, 6), "229.0 ");
}

TEST_F(SecTest, PollEndsAtTheFirstUnansweredQuery) {
    Healthy(ups);
    ups.replies.erase("^P003ST3");
    SecPollResult r = RunSecPoll(Line());
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.statusLine, "(230.0 230.0 ");
    EXPECT_TRUE(r.infoLine.empty());
    EXPECT_FALSE(r.capacity.has_value());
    EXPECT_EQ(std::count(ups.sent.begin(), ups.sent.end(), "^P003MAN"), 0);

    // A reply let through on its "D" alone has no fields to trust.
    Healthy(ups);
    ups.replies["^P003ST1"] = {"XD0230,0,0,0,45,1000,270,0,25"};
    r = RunSecPoll(Line());
    EXPECT_EQ(r.statusLine, "(230.0 230.0 230.0 021 50.0 ");
    EXPECT_FALSE(r.capacity.has_value());

    // Late in the sequence: the status line is whole, the "I" line is not.
    Healthy(ups);
    ups.replies.erase("^P003VER");
    r = RunSecPoll(Line());
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.statusLine.size(), 47u);
    EXPECT_EQ(r.infoLine, "#Stavlen         SEC-3000   ");
}

TEST_F(SecTest, InfoLineIsCutPaddedAndStopsAtControlBytes) {
    Healthy(ups);
    ups.replies["^P003MAN"] = {Data("A Very Long Manufacturer Name")};
    ups.replies["^P003MOD"] = {Data(std::string("M\x01junk", 6))};
    ups.replies["^P003VER"] = {"^D999" + std::string("1.0")};  // claims more than it sends
    const SecPollResult r = RunSecPoll(Line());
    EXPECT_EQ(r.infoLine, "#A Very Long Man M          1.0       \r");
}

TEST_F(SecTest, TransactResendsUntilAReplyAndGivesUpAfterThreeWholeSeconds) {
    std::string reply;
    ups.replies["^P003ST2"] = {"", "", Data("0,1,500,2300")};
    EXPECT_EQ(Transact(Line(), "^P003ST2", reply), 17);
    EXPECT_EQ(reply, Data("0,1,500,2300"));
    EXPECT_EQ(ups.sent.size(), 3u);
    EXPECT_THAT(clock.waits, ElementsAre(500, 500, 500));
    EXPECT_TRUE(std::all_of(purges.begin(), purges.end(), [](int f) { return f == 12; }));

    // A bare acknowledgement is too short to count as a reply.
    ups.sent.clear();
    clock.waits.clear();
    ups.replies["^P003ST2"] = {"^1"};
    const auto before = clock.Elapsed();
    EXPECT_EQ(Transact(Line(), "^P003ST2", reply), -1);
    const auto spent = clock.Elapsed() - before - milliseconds(500);
    EXPECT_GE(spent, milliseconds(4000)) << "gave up before 3 whole seconds had passed";
    EXPECT_LT(spent, milliseconds(4500));
    EXPECT_EQ(ups.sent.size(), 9u);
}

TEST_F(SecTest, TransactAcceptsOnlyReplyLikeTextAndEndsOnAChatteringLine) {
    std::string reply;
    // Garbage that never starts like a reply: bounded by the give-up time, not endless.
    ups.replies["^P003ST1"] = {"XXXXXXXX"};
    int reads = 0;
    SecLine line = Line();
    line.purge = [&](int) {
        if (++reads > 10000) throw std::runtime_error("the reply loop never ends");
        ups.waiting = "XXXXXXXX";  // the line keeps talking after every purge
        if (reads % 50 == 0) clock.Wait(milliseconds(100));
    };
    int result = 0;
    EXPECT_NO_THROW(result = Transact(line, "^P003ST1", reply));
    EXPECT_EQ(result, -1);

    ups.waiting.clear();
    ups.replies["^P003ST1"] = {"xD123"};
    EXPECT_EQ(Transact(Line(), "^P003ST1", reply), 5) << "a second character D counts too";
}

TEST_F(SecTest, TransactStopsWhenTheLinkIsBeingReplaced) {
    std::string reply;
    Healthy(ups);
    stop = true;
    EXPECT_EQ(Transact(Line(), "^P003ST2", reply), -1);
    const SecPollResult r = RunSecPoll(Line());
    EXPECT_TRUE(r.statusLine.empty());
    EXPECT_EQ(ups.sent.size(), 2u);
}

TEST(SecFields, GetFieldReadsTheTextAfterTheNthComma) {
    const std::string r = Data("0,1,500,2300,-12,,7x");
    const int n = SecDataLength(r);
    EXPECT_EQ(n, 20);
    EXPECT_EQ(GetField(1, n, r), 1);
    EXPECT_EQ(GetField(2, n, r), 500);
    EXPECT_EQ(GetField(3, n, r), 2300);
    EXPECT_EQ(GetField(4, n, r), -12);
    EXPECT_EQ(GetField(5, n, r), 0) << "empty field";
    EXPECT_EQ(GetField(6, n, r), 7) << "digits up to the first non-digit";
    EXPECT_EQ(GetField(7, n, r), 0) << "no seventh comma";
    EXPECT_EQ(GetField(0, n, r), 0);
    EXPECT_EQ(GetField(1, 16, Data("1,12345678")), 0) << "over 7 characters";
    EXPECT_EQ(GetField(1, 16, Data("1,1234567")), 1234567);
    EXPECT_EQ(GetField(1, 5, Data("12345")), 0) << "missing comma";
}

TEST(SecFields, ALyingLengthNeverReadsPastTheReply) {
    // The bytes after the view hold commas and digits that a reader trusting "999" would find.
    const std::string buffer = "^D9990,1,5" + std::string(",42,43,44,45");
    const std::string_view reply(buffer.data(), 10);
    EXPECT_EQ(SecDataLength(reply), 5);
    EXPECT_EQ(GetField(2, 999, reply), 5);
    EXPECT_EQ(GetField(3, 999, reply), 0);
    // A length that claims less than came bounds the fields to it.
    const std::string shortClaim = "^D0030,1,500";
    EXPECT_EQ(SecDataLength(shortClaim), 3);
    EXPECT_EQ(GetField(1, 3, shortClaim), 1);
    EXPECT_EQ(GetField(2, 3, shortClaim), 0);
    EXPECT_EQ(SecDataLength("^DX120,1"), 0);
    EXPECT_EQ(SecDataLength("^1"), 0);
    EXPECT_EQ(GetField(1, 999, ""), 0);
}

TEST(SecTexts, SettingsCarryTheirLength) {
    EXPECT_EQ(SecShutdownText(120), "^S006PSD120");
    EXPECT_EQ(SecShutdownText(12), "^S005PSD12");
    EXPECT_EQ(SecShutdownText(5940), "^S007PSD5940");
    EXPECT_EQ(SecRestoreText(120), "^S006RWD120");
    EXPECT_EQ(SecSettingText("NOM,,,,,,,2"), kSecBeeper);
    EXPECT_EQ(SecSettingText("TST-1"), kSecCancelTest);
    EXPECT_EQ(SecSettingText(std::string(1000, 'x')), "");
    EXPECT_EQ(SecTestText(-1), "^S004TST3");
    EXPECT_EQ(SecTestText(0), "^S004TST2");
    EXPECT_EQ(SecTestText(1), "^S004TST1");
    EXPECT_EQ(SecTestText(99), "^S004TST1");
    EXPECT_FALSE(SecTestText(100));
    EXPECT_FALSE(SecTestText(-2));
}

TEST_F(SecTest, SettingsAreRepeatedUntilAcknowledged) {
    ups.replies[kSecBeeper] = {"", "^0", "^1"};
    EXPECT_TRUE(SendSecSettingAcknowledged(Line(), kSecBeeper));
    EXPECT_EQ(ups.sent.size(), 3u);

    ups.sent.clear();
    ups.replies["^S004TST2"] = {"^0"};
    const auto before = clock.Elapsed();
    EXPECT_FALSE(SendSecSettingAcknowledged(Line(), "^S004TST2"));
    EXPECT_GE(clock.Elapsed() - before, milliseconds(4000));
    EXPECT_LE(ups.sent.size(), 9u);
}

TEST_F(SecTest, ShutdownGroupGoesOutInOrderWithItsPauses) {
    SendSecShutdown(Line(), SecRestoreText(120), SecShutdownText(120));
    EXPECT_THAT(ups.sent, ElementsAre("^S004ATR1", "^S004SDA1", "^S006RWD120", "^S006PSD120"));
    EXPECT_THAT(clock.waits, ElementsAre(500, 500, 10));

    ups.sent.clear();
    clock.waits.clear();
    SendSecShutdown(Line(), "", SecShutdownText(30));
    EXPECT_THAT(ups.sent, ElementsAre("^S004ATR1", "^S004SDA1", "^S005PSD30"));
    EXPECT_THAT(clock.waits, ElementsAre(500, 500));
}

}  // namespace
}  // namespace torvane
