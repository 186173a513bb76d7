#include "issuer_screen.h"

#include <curses.h>

#include <cstdio>
#include <cstring>

#include "config.h"
#include "msgq.h"
#include "paths.h"
#include "screen.h"
#include "snmp_access.h"
#include "snmp_draw.h"
#include "userid.h"

namespace issuer {

using snmp::Obj;

const std::array<std::string_view, 10> kSerialMenu{
    "[s]  10 Seconds Test\t\t\t",
    "[b]  Test until Battery Low\t\t",
    "[t]  Test for a Specified Time Period\t",
    "[c]  Cancel Test Command\t\t",
    "\t\t\t\t\t",
    "[n]  Shut Down UPS \t\t\t",
    "[a]  Cancel Shut Down Command\t\t",
    "\t\t\t\t\t",
    "[r]  Redraw\t\t\t\t",
    "[q]  Quit\t\t\t\t",
};

const std::array<std::string_view, 11> kSnmpMenu{
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
    "[t]  Test Run Time Calibration         [q]  Quit\t",
};

constexpr std::string_view kNoChoice = "\tPress the letter of your choice.\t\t\t";

const std::array<SerialOption, 7> kSerialOptions{{
    {kNoChoice, 0},
    {"\tTest for 10 seconds then return to utility.\t\t", kIssueTenSecondTest},
    {"\tTest until battery low then return to utility. \t\t", kIssueTestUntilLow},
    {"\tTest for <n> minutes.\t\t\t\t\t", kIssueTimedTest},
    {"\tUPS will shut down in a few seconds.\t\t\t", kIssueShutdownNow},
    {"\tCancel Shut Down Command or Turn on UPS Output.\t\t", kIssueCancelShutdown},
    {"\tCancel Test Command.\t\t\t\t\t", kIssueCancelTest},
}};

const std::array<SnmpOption, 11> kSnmpOptions{{
    {kNoChoice, std::nullopt, false},
    {"\tUPS will shut down in 12 seconds.  \t\t\t", snmp::kTurnOff, false},
    {"\tReboots the UPS.\t\t  \t\t\t", snmp::kReboot, false},
    {"\tPut UPS to sleep.\t\t\t\t\t", snmp::kSleep, false},
    {"\tSwitch to Battery Power.\t\t\t\t", snmp::kSwitchToBattery, false},
    {"\tLights up all indicators and starts beeping.\t\t", snmp::kLightsAndBeep, true},
    {"\tSwitch back to utility power.\t\t\t\t", snmp::kSwitchToUtility, false},
    {"\tUPS on battery will go to sleep mode.  \t\t\t", snmp::kSleepOnBattery, false},
    {"\t10 seconds self-test.\t\t\t\t\t", snmp::kSelfTestStart, false},
    {"\tPerform a front panel lights test.\t\t\t", snmp::kLightsTest, true},
    {"\tDischarge to calibrate the UPS\t\t\t\t", snmp::kCalibrate, true},
}};

const std::array<KeyOption, 6> kSerialKeys{{
    {'s', 1},
    {'b', 2},
    {'t', 3},
    {'n', 4},
    {'a', 5},
    {'c', 6},
}};

const std::array<KeyOption, 11> kSnmpKeys{{
    {'s', 1},
    {'u', 2},
    {'l', 3},
    {'m', 4},
    {'f', 5},
    {'c', 6},
    {'o', 6},
    {'b', 7},
    {'d', 8},
    {'i', 9},
    {'t', 10},
}};

namespace {

constexpr std::string_view kTitle = "(Kelvora) UPS COMMAND CENTER,";
constexpr int kClockRight = 77;
constexpr layout::Pos kMenuTop{3, 6};
constexpr layout::Pos kDescription{16, 2};
constexpr layout::Pos kDigits{17, 33};
constexpr layout::Pos kDurationLabel{17, 8};
constexpr layout::Pos kProceed{22, 15};
constexpr layout::Pos kResult{22, 15};
constexpr layout::Pos kWarning{18, 5};
constexpr int kStatusRow = 21;
constexpr int kStatusCol = 5;
constexpr int kUtilityCol = 18;
constexpr int kOutputCol = 37;
// The option area inside its frame: rows 16 to 22, blanked from column 1.
constexpr int kAreaLeft = 1;
constexpr int kAreaWidth = 73;
constexpr int kResultBlankCol = 5;

constexpr std::string_view kProceedText = "Press [p] to proceed, [Esc] to cancel";
constexpr std::string_view kWarningText =
    "(WARNING) UPS has to be turned on manually after issuing this command";
constexpr std::string_view kNoConnection = "No Connection (check Ip Address and Community Name)";
constexpr std::string_view kStatusOpen = "UPS Status (";
constexpr std::string_view kSucceeded = "Last Command Successful\t\t\t";
constexpr std::string_view kFailed = "Last Command Failed.\t\t\t\t";

// The duration's help texts: (row, column, text) of each mode.
struct Line {
    int row;
    int col;
    std::string_view text;
};
constexpr std::array<Line, 3> kSerialDuration{{
    {kDurationLabel.row, kDurationLabel.col, "Duration of Self Test :   0 Minutes"},
    {19, 8, "\t Press  [+] to increase,\t\t"},
    {20, 8, "      \t\t[-] to decrease duration of Self Test "},
}};
constexpr std::array<Line, 3> kSnmpDuration{{
    {kDurationLabel.row, kDurationLabel.col, "   Duration of Sleep  :   0 Minutes"},
    {18, 8, "\t Press  [+] to increase,\t\t"},
    {19, 8, "\t\t[-] to decrease Sleep Time              "},
}};

template <std::size_t N>
int Lookup(const std::array<KeyOption, N>& keys, int key) {
    for (const KeyOption& k : keys) {
        if (k.key == key) return k.option;
    }
    return 0;
}

int LiveSet(Obj object, long value) {
    int result = kSetNoAnswer;
    UPS_setvalue(snmp::Oid(object), value, result);
    return result;
}

int LiveSend(std::string_view text) {
    // Opened at every command: the daemon replaces its queues when it restarts, and a command
    // written to the id of a removed queue would be lost without a word.
    int q = CreateMsgQ(kCommandQueueId);
    return q < 0 ? -1 : SendMsg(q, kMsgCommand, text);
}

std::string Field(const char (&field)[30]) {
    return std::string(field, strnlen(field, sizeof field));
}

}  // namespace

const IssuerPorts& LiveIssuerPorts() {
    static const IssuerPorts ports{AgentRead, LiveSet, LiveSend};
    return ports;
}

std::string_view WithUtility(const std::optional<std::string>& line_voltage) {
    bool present = line_voltage && SnmpInt(*line_voltage) != 0;
    return present ? "With Utility power." : "w/o  Utility power.";
}

std::string_view WithOutput(const std::optional<std::string>& output_status,
                            const std::optional<std::string>& output_frequency) {
    // An unread value counts as 0: no frequency means no output.
    int status = output_status ? SnmpInt(*output_status) : 0;
    int frequency = output_frequency ? SnmpInt(*output_frequency) : 0;
    return (status != 5 && frequency != 0) ? "With output power.)" : "w/o  output power.)";
}

void IssuerScreen::FirstScreen() const {
    DrawBox(13, 79, 2, 0);
    DrawBox(9, 79, 15, 0);
    ScreenHeading(kTitle, kClockRight);
    auto draw = [](const auto& menu) {
        int row = kMenuTop.row;
        for (std::string_view line : menu) PutText(row++, kMenuTop.col, line);
    };
    if (mode_ == Mode::kSnmp) {
        draw(kSnmpMenu);
    } else {
        draw(kSerialMenu);
    }
}

std::string IssuerScreen::DurationText() const {
    char digits[3] = {static_cast<char>('0' + duration_ / 10),
                      static_cast<char>('0' + duration_ % 10), '\0'};
    return digits;
}

int IssuerScreen::DoComPort(int key) {
    option_ = Lookup(kSerialKeys, key);
    return option_;
}

int IssuerScreen::DoSNMP(int key) {
    option_ = Lookup(kSnmpKeys, key);
    return option_;
}

void IssuerScreen::BlankRows(int first, int last) {
    for (int row = first; row <= last; ++row) PutBlanks(row, kAreaLeft, kAreaWidth);
}

bool IssuerScreen::Key(int key) {
    if (key == 'q') return false;
    if (key == 'r') {
        wclear(stdscr);
        FirstScreen();
    }
    if (option_ == 0) Select(key);
    if (option_ != 0) {
        if (key == kEsc) {
            Cancel();
        } else if (key == 'p') {
            Execute();
        }
    }
    DoOptions(key);
    return true;
}

void IssuerScreen::Select(int key) {
    if (mode_ == Mode::kSnmp) {
        DoSNMP(key);
    } else {
        DoComPort(key);
    }
}

void IssuerScreen::Cancel() {
    option_ = 0;
    BlankRows(17, 22);
}

void IssuerScreen::Execute() {
    if (mode_ == Mode::kSerial) {
        int sent = CPortCmdExecute();
        PutBlanks(kResult.row, kResultBlankCol, kAreaWidth);
        // A command that never reached the daemon's queue must not pass for one sent.
        if (sent != 1) PutText(kResult.row, kResult.col, kFailed);
    } else {
        Evaluate(CmdExecute());
    }
    // Both modes go back to choosing: a command stays selected only until it is sent, so the
    // result stays on its line and a second `p` cannot repeat it by accident.
    BlankRows(17, 21);
    option_ = 0;
}

void IssuerScreen::DoOptions(int key) {
    const bool snmp_mode = mode_ == Mode::kSnmp;
    PutText(kDescription.row, kDescription.col,
            snmp_mode ? kSnmpOptions[static_cast<std::size_t>(option_)].description
                      : kSerialOptions[static_cast<std::size_t>(option_)].description);

    if (option_ == kTimedOption) {
        if (key == '+' && duration_ < kMaxDuration) ++duration_;
        if (key == '-' && duration_ > kMinDuration) --duration_;
        for (const Line& line : snmp_mode ? kSnmpDuration : kSerialDuration) {
            PutText(line.row, line.col, line.text);
        }
        PutText(kDigits.row, kDigits.col, DurationText());
    }

    if (snmp_mode) {
        if (option_ == kSnmpSleepOnBattery) PutText(kWarning.row, kWarning.col, kWarningText);
        if (option_ == kSnmpShutdownOption) {
            delay_result_ = ports_.set(snmp::kShutdownDelay, kShutdownSeconds);
        }
        if (option_ != 0) ChkCondition();
    }

    if (option_ != 0) {
        PutText(kProceed.row, kProceed.col, kProceedText);
    } else {
        PutBlanks(21, kAreaLeft, kAreaWidth);
        PutBlanks(20, kAreaLeft, kAreaWidth);
    }
}

int IssuerScreen::CPortCmdExecute() {
    const SerialOption& o = kSerialOptions[static_cast<std::size_t>(option_)];
    if (o.letter == 0) return -1;
    std::string text(1, o.letter);
    if (option_ == kTimedOption) text += DurationText();
    return ports_.send(text);
}

int IssuerScreen::CmdExecute() {
    const SnmpOption& o = kSnmpOptions[static_cast<std::size_t>(option_)];
    if (!o.command) return kSetNoAnswer;
    if (option_ == kSnmpSleepOption) {
        // Asleep for whatever time the agent last held would be no command the user gave.
        int timed = ports_.set(snmp::kSleepTime, duration_);
        if (timed != kSetAccepted) return timed;
    }
    // "Shut down in 12 seconds" only when the agent took the 12 seconds.
    if (option_ == kSnmpShutdownOption && delay_result_ != kSetAccepted) return delay_result_;
    if (o.only_when_readable && ChkCell(*o.command) != 1) return kSetNoAnswer;
    return ports_.set(*o.command, kDoIt);
}

int IssuerScreen::ChkCell(Obj object) const {
    return ports_.get(object) ? 1 : -1;
}

void IssuerScreen::ChkCondition() const {
    // Cleared first: the status after "No Connection" would otherwise keep that text's letters
    // in the gaps between its parts.
    PutBlanks(kStatusRow, kStatusCol, static_cast<int>(kNoConnection.size()));
    std::optional<std::string> line = ports_.get(snmp::kLineVoltage);
    if (!line) {
        PutText(kStatusRow, kStatusCol, kNoConnection);
        return;
    }
    PutText(kStatusRow, kStatusCol, kStatusOpen);
    PutText(kStatusRow, kUtilityCol, WithUtility(line));
    PutText(kStatusRow, kOutputCol,
            WithOutput(ports_.get(snmp::kOutputStatus), ports_.get(snmp::kOutputFrequency)));
}

void IssuerScreen::Evaluate(int result) {
    if (result == kSetAccepted) {
        PutText(kResult.row, kResult.col, kSucceeded);
    } else if (result == kSetRefused) {
        PutText(kResult.row, kResult.col, kFailed);
    } else {
        PutBlanks(kResult.row, kResultBlankCol, kAreaWidth);
    }
}

}  // namespace issuer

int vornii_issuer() {
    using namespace issuer;
    if (!ChkUserID()) return 0;
    UpsConfig config{};
    WeekSchedule week{};
    InitConfig(&config, &week);
    if (ReadConfig(&config, &week) != 1) {
        std::printf("File %s Error!\n", kelvora::RootPath("vorn.ini").c_str());
        return 0;
    }
    if (!InstanceExist()) {
        std::printf("Initialize Daemon Process first by typing [kelvora start]");
        std::printf("\n\n");
        return 0;
    }
    const Mode mode = config.comm_mode == 1 ? Mode::kSnmp : Mode::kSerial;
    if (mode == Mode::kSnmp) {
        // Nothing the access layer or the library says may land on the curses screen.
        UPS_report_to(nullptr);
        upsconf_load(Field(config.agent_ip), Field(config.community));
        if (UPS_init() == -1) {
            std::printf("Error......Exiting\n");
            return 0;
        }
    }
    std::fflush(stdout);

    InitScreen();
    wclear(stdscr);
    IssuerScreen screen(mode, LiveIssuerPorts());
    screen.FirstScreen();
    screen.DoOptions(-1);
    // GetCH gives 'q' once the terminal is gone, so the loop cannot outlive it.
    do {
        wmove(stdscr, layout::kRows - 1, layout::kCols - 1);
        wrefresh(stdscr);
    } while (screen.Key(GetCH()));
    EndScreen();
    if (mode == Mode::kSnmp) UPS_close();
    return 0;
}
