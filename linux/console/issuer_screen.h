// `kelvora issuer`: one-off commands to the UPS. In the serial mode the daemon owns the port, so
// the screen queues a command letter for it; in the SNMP mode the screen sets the UPS's control
// objects on the agent itself.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "snmp_objects.h"

// The sub-command; returns when the user quits or a start-up check fails.
int vornii_issuer();

namespace issuer {

enum class Mode { kSerial, kSnmp };

inline constexpr int kMinDuration = 1;
inline constexpr int kMaxDuration = 99;
inline constexpr int kEsc = 27;
// The shutdown delay the SNMP shutdown command announces ("in 12 seconds").
inline constexpr long kShutdownSeconds = 12;
// What a command object takes for "do it".
inline constexpr long kDoIt = 2;

// UPS_setvalue's results.
inline constexpr int kSetNoAnswer = 0;
inline constexpr int kSetAccepted = 1;
inline constexpr int kSetRefused = 2;

// What the screen needs from outside: the agent's objects and the daemon's command queue. The
// screen uses the real ones; tests hand in their own to see what was sent.
struct IssuerPorts {
    // The value's text, or nothing when the agent gave none.
    std::function<std::optional<std::string>(snmp::Obj)> get;
    // Sets INTEGER `value`: kSetAccepted, kSetRefused or kSetNoAnswer.
    std::function<int(snmp::Obj, long)> set;
    // Queues a type-9 command text for the daemon: 1, or -1 when it could not be queued.
    std::function<int(std::string_view)> send;
};
// The access layer's session and the command queue, opened afresh for every command.
const IssuerPorts& LiveIssuerPorts();

// --- the tables -----------------------------------------------------------------------------

struct KeyOption {
    char key;
    int option;
};

// One serial command: its description and the letter the daemon acts on.
struct SerialOption {
    std::string_view description;
    char letter;  // 0 for option 0, which sends nothing
};

// One SNMP command: its description, the command object it sets to 2, and whether the object
// is set only when it can be read (agents that lack it are left alone).
struct SnmpOption {
    std::string_view description;
    std::optional<snmp::Obj> command;
    bool only_when_readable;
};

inline constexpr int kTimedOption = 3;         // the option that takes the duration
inline constexpr int kSnmpShutdownOption = 1;  // sets the shutdown delay while selected
inline constexpr int kSnmpSleepOption = 3;     // sets the sleep time first
inline constexpr int kSnmpSleepOnBattery = 7;  // needs the UPS turned on by hand afterwards

extern const std::array<std::string_view, 10> kSerialMenu;
extern const std::array<std::string_view, 11> kSnmpMenu;
extern const std::array<SerialOption, 7> kSerialOptions;
extern const std::array<SnmpOption, 11> kSnmpOptions;
extern const std::array<KeyOption, 6> kSerialKeys;
extern const std::array<KeyOption, 11> kSnmpKeys;

// --- the screen -----------------------------------------------------------------------------

class IssuerScreen {
  public:
    IssuerScreen(Mode mode, IssuerPorts ports) : mode_(mode), ports_(std::move(ports)) {}

    // Frame, title, clock and the menu of the mode.
    void FirstScreen() const;
    // One key read by the loop: redraw, select, cancel or execute, then the option area drawn
    // with that key (which is where `+` and `-` act). False for 'q', which draws nothing.
    bool Key(int key);
    // The option area of a pass; `+`/`-` change the duration while the timed option is chosen.
    void DoOptions(int key);

    // Select by the key table of the mode; the option, or 0 for a key that selects nothing.
    int DoComPort(int key);
    int DoSNMP(int key);
    // Queue the serial command of the selected option: SendMsg's result.
    int CPortCmdExecute();
    // Set the SNMP objects of the selected option; the result Evaluate shows.
    int CmdExecute();
    // 1 when the agent gives the object, -1 otherwise.
    int ChkCell(snmp::Obj object) const;
    // The status line on row 21.
    void ChkCondition() const;
    // The result line on row 22.
    static void Evaluate(int result);

    int option() const { return option_; }
    int duration() const { return duration_; }
    // The two digits shown and sent.
    std::string DurationText() const;

  private:
    void Select(int key);
    void Execute();
    void Cancel();
    static void BlankRows(int first, int last);

    Mode mode_;
    IssuerPorts ports_;
    int option_ = 0;
    int duration_ = kMinDuration;
    // The answer to the latest shutdown-delay set: the shutdown command only goes out when the
    // agent took the delay it announces.
    int delay_result_ = kSetNoAnswer;
};

// The status line's two halves, from the readings: line voltage 0 means the utility failed;
// output status 5 or output frequency 0 means no output.
std::string_view WithUtility(const std::optional<std::string>& line_voltage);
std::string_view WithOutput(const std::optional<std::string>& output_status,
                            const std::optional<std::string>& output_frequency);

}  // namespace issuer
