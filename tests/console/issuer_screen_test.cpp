#include "issuer_screen.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "msgq.h"
#include "screen.h"
#include "temp_root.h"
#include "virtual_screen.h"

namespace {

using issuer::IssuerPorts;
using issuer::IssuerScreen;
using issuer::Mode;

// The agent and the daemon's queue as the issuer sees them: what it reads comes from a table,
// what it sets and sends is recorded in order.
struct FakeUps {
    std::map<snmp::Obj, std::string> values{
        {snmp::kLineVoltage, "2300"}, {snmp::kOutputStatus, "2"}, {snmp::kOutputFrequency, "500"},
        {snmp::kLightsAndBeep, "1"},  {snmp::kLightsTest, "1"},   {snmp::kCalibrate, "1"},
    };
    std::map<snmp::Obj, int> answers;  // set results other than "accepted"
    std::vector<std::pair<snmp::Obj, long>> sets;
    std::vector<std::string> sent;
    int send_result = 1;

    IssuerPorts Ports() {
        return IssuerPorts{
            .get = [this](snmp::Obj o) -> std::optional<std::string> {
                auto it = values.find(o);
                if (it == values.end()) return std::nullopt;
                return it->second;
            },
            .set =
                [this](snmp::Obj o, long v) {
                    sets.emplace_back(o, v);
                    auto it = answers.find(o);
                    return it == answers.end() ? issuer::kSetAccepted : it->second;
                },
            .send =
                [this](std::string_view text) {
                    sent.emplace_back(text);
                    return send_result;
                },
        };
    }
    int SetsOf(snmp::Obj o) const {
        int n = 0;
        for (const auto& s : sets) n += s.first == o ? 1 : 0;
        return n;
    }
};

using Sets = std::vector<std::pair<snmp::Obj, long>>;

constexpr std::string_view kNoChoice = "\tPress the letter of your choice.\t\t\t";
constexpr std::string_view kProceed = "Press [p] to proceed, [Esc] to cancel";

// The menus as the user reads them, written out here so that a slip in the screen's table shows.
const std::vector<std::string_view> kSerialMenu{"[s]  10 Seconds Test\t\t\t",
                                                "[b]  Test until Battery Low\t\t",
                                                "[t]  Test for a Specified Time Period\t",
                                                "[c]  Cancel Test Command\t\t",
                                                "\t\t\t\t\t",
                                                "[n]  Shut Down UPS \t\t\t",
                                                "[a]  Cancel Shut Down Command\t\t",
                                                "\t\t\t\t\t",
                                                "[r]  Redraw\t\t\t\t",
                                                "[q]  Quit\t\t\t\t"};
const std::vector<std::string_view> kSnmpMenu{
    "[s]  Shut Down UPS\t            [f]  Flash and Beep",
    "[c]  Cancel Shut Down Command\t    [i]  Test Indicators",
    "[o]  Turn On UPS\t\t\t\t\t",
    "\t\t\t\t\t\t\t",
    "[u]  Reboot UPS\t\t\t\t\t",
    "[l]  Put UPS to Sleep\t\t\t\t\t",
    "[m]  Simulate Power Fail\t\t\t\t",
    "[b]  Conserve Battery\t\t\t\t\t",
    "\t\t\t\t\t\t\t",
    "[d]  Diagnostic Self Test              [r]  Redraw\t",
    "[t]  Test Run Time Calibration         [q]  Quit\t"};

class IssuerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(screen_.ok()) << "no 24 x 80 curses screen on /dev/null"; }

    IssuerScreen& Open(Mode mode) {
        issuer_.emplace(mode, ups_.Ports());
        issuer_->FirstScreen();
        issuer_->DoOptions(-1);
        return *issuer_;
    }
    void Keys(std::string_view keys) {
        for (char k : keys) ASSERT_TRUE(issuer_->Key(k)) << k;
    }
    std::string At(int row, int col, std::size_t length) const {
        return screen_.Row(row).substr(static_cast<std::size_t>(col), length);
    }
    // A row as curses shows `text` written at `col` on an otherwise blank option-area row.
    static std::string AreaRow(int col, std::string_view text) {
        Canvas c;
        c.Put(0, 0, "|").Put(0, 78, "|").Put(0, col, text);
        return c.Row(0);
    }
    bool AreaBlank(int first, int last) const {
        for (int row = first; row <= last; ++row) {
            if (screen_.Row(row) != AreaRow(1, "")) return false;
        }
        return true;
    }
    // Every row but the clock's; the clock is checked on its own.
    void ExpectScreen(const Canvas& expected) const {
        for (int row = 0; row < 24; ++row) {
            if (row == 1) continue;
            EXPECT_EQ(screen_.Row(row), expected.Row(row)) << "row " << row;
        }
        std::string clock = screen_.Row(1);
        std::time_t now = std::time(nullptr);
        std::string a = ClockText(now), b = ClockText(now - 60);
        bool ends_at_76 = clock.substr(77 - a.size(), a.size()) == a ||
                          clock.substr(77 - b.size(), b.size()) == b;
        EXPECT_TRUE(ends_at_76) << clock;
        EXPECT_EQ(clock.substr(77), "   ");
    }
    static Canvas Frame(Mode mode) {
        Canvas c;
        c.Box(13, 79, 2, 0);
        c.Box(9, 79, 15, 0);
        c.Put(0, 1, "(Kelvora) UPS COMMAND CENTER, Ver. 2.1");
        const std::vector<std::string_view>& menu = mode == Mode::kSnmp ? kSnmpMenu : kSerialMenu;
        int row = 3;
        for (std::string_view line : menu) c.Put(row++, 6, line);
        c.Put(16, 2, kNoChoice);
        return c;
    }

    VirtualScreen screen_;
    FakeUps ups_;
    std::optional<IssuerScreen> issuer_;
};

// --- serial mode -----------------------------------------------------------------------------

TEST_F(IssuerTest, SerialTimedTestQueuesItsTwoDigitsAndReturnsToTheMenu) {
    Open(Mode::kSerial);
    Keys("t");
    EXPECT_EQ(issuer_->option(), 3);
    EXPECT_EQ(At(17, 8, 35), "Duration of Self Test :  01 Minutes");
    Keys("++++");
    EXPECT_EQ(At(17, 33, 2), "05");
    EXPECT_TRUE(ups_.sent.empty());  // nothing goes out before `p`
    Keys("p");
    EXPECT_EQ(ups_.sent, std::vector<std::string>{"c05"});
    EXPECT_EQ(issuer_->option(), 0);
    EXPECT_EQ(screen_.Row(16), AreaRow(2, kNoChoice));
    EXPECT_TRUE(AreaBlank(17, 22));
    EXPECT_TRUE(ups_.sets.empty());  // the serial mode never touches an agent
}

TEST_F(IssuerTest, SerialDurationStaysBetweenOneAnd99AndIsKeptForTheRun) {
    Open(Mode::kSerial);
    Keys("t-");
    EXPECT_EQ(issuer_->duration(), 1);
    EXPECT_EQ(At(17, 33, 2), "01");
    for (int i = 0; i < 97; ++i) Keys("+");
    EXPECT_EQ(At(17, 33, 2), "98");
    Keys("++");
    EXPECT_EQ(issuer_->duration(), 99);
    EXPECT_EQ(At(17, 33, 2), "99");
    Keys("\x1b");
    EXPECT_TRUE(AreaBlank(17, 22));
    Keys("+");  // nothing selected: the duration holds
    Keys("t-");
    EXPECT_EQ(At(17, 33, 2), "98");
    Keys("p");
    EXPECT_EQ(ups_.sent, std::vector<std::string>{"c98"});
}

TEST_F(IssuerTest, SerialKeysSendTheirLettersAndOtherKeysNothing) {
    Open(Mode::kSerial);
    Keys("p");  // nothing selected
    Keys("xlud+-\x1b");
    EXPECT_EQ(issuer_->option(), 0);
    EXPECT_TRUE(ups_.sent.empty());
    for (auto [key, letter] : std::vector<std::pair<char, std::string>>{
             {'s', "a"}, {'b', "b"}, {'n', "d"}, {'a', "e"}, {'c', "f"}}) {
        Keys(std::string(1, key));
        Keys("xs");  // a menu key while selected changes nothing
        Keys("p");
        EXPECT_EQ(ups_.sent.back(), letter) << key;
    }
    EXPECT_EQ(ups_.sent.size(), 5U);
    Keys("n\x1bp");  // cancelled: nothing is sent
    EXPECT_EQ(ups_.sent.size(), 5U);
}

TEST_F(IssuerTest, SerialCommandThatCannotBeQueuedIsReportedAsFailed) {
    Open(Mode::kSerial);
    ups_.send_result = -1;
    Keys("np");
    EXPECT_EQ(screen_.Row(22), AreaRow(15, "Last Command Failed.\t\t\t\t"));
    ups_.send_result = 1;
    Keys("np");
    EXPECT_TRUE(AreaBlank(22, 22));
}

TEST_F(IssuerTest, SerialCommandReachesTheQueueEvenAfterTheDaemonReplacedIt) {
    TempRoot root;
    issuer_.emplace(Mode::kSerial, issuer::LiveIssuerPorts());
    issuer_->FirstScreen();
    int first = CreateMsgQ(kCommandQueueId);
    ASSERT_GE(first, 0);
    Keys("t++++p");
    std::string text;
    ASSERT_EQ(ReceiveMsg(first, kMsgCommand, text), 1);
    EXPECT_EQ(text, "c05");

    // A restarted daemon removes its queues and makes new ones under the same key.
    ASSERT_EQ(DestroyMsgQ(first), 1);
    int second = ClaimMsgQ(kCommandQueueId);
    ASSERT_GE(second, 0);
    Keys("sp");
    ASSERT_EQ(ReceiveMsg(second, kMsgCommand, text), 1);
    EXPECT_EQ(text, "a");
}

// --- SNMP mode -------------------------------------------------------------------------------

TEST_F(IssuerTest, SnmpSleepSetsTheSleepTimeThenTheSleepCommand) {
    Open(Mode::kSnmp);
    Keys("l");
    EXPECT_EQ(At(17, 8, 35), "   Duration of Sleep  :  01 Minutes");
    Keys("++");
    EXPECT_TRUE(ups_.sets.empty());
    Keys("p");
    EXPECT_EQ(ups_.sets, (Sets{{snmp::kSleepTime, 3}, {snmp::kSleep, 2}}));
    EXPECT_EQ(screen_.Row(22), AreaRow(15, "Last Command Successful\t\t\t"));
    EXPECT_EQ(issuer_->option(), 0);
    EXPECT_TRUE(AreaBlank(17, 21));
    // The next pass keeps the result on its line.
    ASSERT_TRUE(issuer_->Key(-1));
    EXPECT_EQ(screen_.Row(22), AreaRow(15, "Last Command Successful\t\t\t"));
}

TEST_F(IssuerTest, SnmpSleepIsNotCommandedWhenItsTimeWasNotTaken) {
    Open(Mode::kSnmp);
    ups_.answers[snmp::kSleepTime] = issuer::kSetRefused;
    Keys("lp");
    EXPECT_EQ(ups_.sets, (Sets{{snmp::kSleepTime, 1}}));
    EXPECT_EQ(screen_.Row(22), AreaRow(15, "Last Command Failed.\t\t\t\t"));
    ups_.answers[snmp::kSleepTime] = issuer::kSetNoAnswer;
    Keys("lp");
    EXPECT_EQ(ups_.SetsOf(snmp::kSleep), 0);
    EXPECT_TRUE(AreaBlank(22, 22));
}

TEST_F(IssuerTest, SnmpShutdownSetsItsDelayOnEveryPassAndTheCommandOnlyOnP) {
    Open(Mode::kSnmp);
    Keys("s");
    EXPECT_EQ(ups_.sets, (Sets{{snmp::kShutdownDelay, 12}}));
    EXPECT_EQ(At(21, 5, 12), "UPS Status (");
    Keys("\x1b");
    EXPECT_EQ(ups_.SetsOf(snmp::kTurnOff), 0);
    EXPECT_EQ(ups_.SetsOf(snmp::kShutdownDelay), 1);
    EXPECT_TRUE(AreaBlank(17, 22));

    Keys("s");
    ASSERT_TRUE(issuer_->Key(-1));  // a pass without a key
    EXPECT_EQ(ups_.SetsOf(snmp::kShutdownDelay), 3);
    Keys("p");
    EXPECT_EQ(ups_.sets.back(), std::make_pair(snmp::kTurnOff, 2L));
    EXPECT_EQ(ups_.SetsOf(snmp::kShutdownDelay), 3);  // none after the command
}

TEST_F(IssuerTest, SnmpShutdownWaitsForTheAgentToTakeItsDelay) {
    Open(Mode::kSnmp);
    ups_.answers[snmp::kShutdownDelay] = issuer::kSetRefused;
    Keys("sp");
    EXPECT_EQ(ups_.SetsOf(snmp::kTurnOff), 0);
    EXPECT_EQ(screen_.Row(22), AreaRow(15, "Last Command Failed.\t\t\t\t"));
}

TEST_F(IssuerTest, SnmpEachOptionSetsItsObjectAndShowsTheAnswer) {
    Open(Mode::kSnmp);
    const std::vector<std::pair<char, snmp::Obj>> table{
        {'u', snmp::kReboot},          {'m', snmp::kSwitchToBattery}, {'f', snmp::kLightsAndBeep},
        {'c', snmp::kSwitchToUtility}, {'o', snmp::kSwitchToUtility}, {'b', snmp::kSleepOnBattery},
        {'d', snmp::kSelfTestStart},   {'i', snmp::kLightsTest},      {'t', snmp::kCalibrate}};
    for (auto [key, object] : table) {
        ups_.sets.clear();
        Keys(std::string(1, key) + "p");
        EXPECT_EQ(ups_.sets, (Sets{{object, 2}})) << key;
        EXPECT_EQ(screen_.Row(22), AreaRow(15, "Last Command Successful\t\t\t")) << key;
    }
    ups_.answers[snmp::kReboot] = issuer::kSetRefused;
    Keys("up");
    EXPECT_EQ(screen_.Row(22), AreaRow(15, "Last Command Failed.\t\t\t\t"));
    ups_.answers[snmp::kReboot] = issuer::kSetNoAnswer;
    Keys("up");
    EXPECT_TRUE(AreaBlank(22, 22));
}

TEST_F(IssuerTest, SnmpOptionalObjectsAreNotSetWhenTheAgentLacksThem) {
    Open(Mode::kSnmp);
    for (snmp::Obj o : {snmp::kLightsAndBeep, snmp::kLightsTest, snmp::kCalibrate}) {
        ups_.values.erase(o);
    }
    for (char key : {'f', 'i', 't'}) {
        Keys("u");
        Keys("p");  // a success first, which the silent one must wipe
        ups_.sets.clear();
        Keys(std::string(1, key) + "p");
        EXPECT_TRUE(ups_.sets.empty()) << key;
        EXPECT_TRUE(AreaBlank(22, 22)) << key;
    }
}

TEST_F(IssuerTest, SnmpStatusLineFollowsTheLineAndTheOutput) {
    Open(Mode::kSnmp);
    EXPECT_TRUE(AreaBlank(21, 21));  // no status without a selection
    Keys("d");
    EXPECT_EQ(screen_.Row(21), AreaRow(5, "UPS Status ( With Utility power.With output power.)"));
    ups_.values[snmp::kLineVoltage] = "0";
    ASSERT_TRUE(issuer_->Key(-1));
    EXPECT_EQ(At(21, 18, 19), "w/o  Utility power.");
    ups_.values[snmp::kOutputStatus] = "5";
    ASSERT_TRUE(issuer_->Key(-1));
    EXPECT_EQ(At(21, 37, 19), "w/o  output power.)");
    ups_.values[snmp::kOutputStatus] = "2";
    ups_.values[snmp::kOutputFrequency] = "0";
    ASSERT_TRUE(issuer_->Key(-1));
    EXPECT_EQ(At(21, 37, 19), "w/o  output power.)");

    ups_.values.erase(snmp::kLineVoltage);
    ASSERT_TRUE(issuer_->Key(-1));
    EXPECT_EQ(screen_.Row(21), AreaRow(5, "No Connection (check Ip Address and Community Name)"));
    ups_.values[snmp::kLineVoltage] = "2300";
    ups_.values[snmp::kOutputFrequency] = "500";
    ASSERT_TRUE(issuer_->Key(-1));
    EXPECT_EQ(screen_.Row(21), AreaRow(5, "UPS Status ( With Utility power.With output power.)"));
}

// --- whole screens ---------------------------------------------------------------------------

TEST_F(IssuerTest, SerialScreenAsDrawnAndRedrawn) {
    Open(Mode::kSerial);
    ExpectScreen(Frame(Mode::kSerial));

    Keys("t+");
    Canvas timed = Frame(Mode::kSerial);
    timed.Put(16, 2, "\tTest for <n> minutes.\t\t\t\t\t");
    timed.Put(17, 8, "Duration of Self Test :   0 Minutes").Put(17, 33, "02");
    timed.Put(19, 8, "\t Press  [+] to increase,\t\t");
    timed.Put(20, 8, "      \t\t[-] to decrease duration of Self Test ");
    timed.Put(22, 15, kProceed);
    ExpectScreen(timed);

    PutText(5, 0, "scribbled over the menu");
    Keys("r");
    ExpectScreen(timed);
    EXPECT_FALSE(issuer_->Key('q'));
}

TEST_F(IssuerTest, SnmpScreenAsDrawnWithAWarningAndTheStatus) {
    Open(Mode::kSnmp);
    ExpectScreen(Frame(Mode::kSnmp));

    Keys("b");
    Canvas warned = Frame(Mode::kSnmp);
    warned.Put(16, 2, "\tUPS on battery will go to sleep mode.  \t\t\t");
    warned.Put(18, 5, "(WARNING) UPS has to be turned on manually after issuing this command");
    warned.Put(21, 5, "UPS Status (").Put(21, 18, "With Utility power.");
    warned.Put(21, 37, "With output power.)");
    warned.Put(22, 15, kProceed);
    ExpectScreen(warned);

    Keys("\x1bl");
    Canvas sleep = Frame(Mode::kSnmp);
    sleep.Put(16, 2, "\tPut UPS to sleep.\t\t\t\t\t");
    sleep.Put(17, 8, "   Duration of Sleep  :   0 Minutes").Put(17, 33, "01");
    sleep.Put(18, 8, "\t Press  [+] to increase,\t\t");
    sleep.Put(19, 8, "\t\t[-] to decrease Sleep Time              ");
    sleep.Put(21, 5, "UPS Status (").Put(21, 18, "With Utility power.");
    sleep.Put(21, 37, "With output power.)");
    sleep.Put(22, 15, kProceed);
    ExpectScreen(sleep);
}

}  // namespace
