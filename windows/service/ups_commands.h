// The UPS commands waiting to go out and the choice of what one tick sends: a queued shut-down,
// cancel-test, self-test or beeper toggle, else the regular poll. Each tick yields one
// TickAction that the UPS object carries out on its link; nothing here touches a link.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ups_changes.h"

namespace torvane {

// How the UPS is reached: the Q1 dialect on a serial or demo link, the USB helper (Q1
// semantics, requests instead of texts) or the SEC dialect on a serial link.
enum class LinkKind { kQ1, kUsb, kSec };

// Shut-down delay and restore time the UPS accepts.
inline constexpr int kMinShutdownDelay = 12;    // seconds
inline constexpr int kMaxShutdownDelay = 5940;  // seconds (99 minutes)
inline constexpr int kMaxRestoreMinutes = 9999;
// A test of n minutes: 1..99; -1 until battery low; 0 ten seconds.
inline constexpr int kTestUntilBatteryLow = -1;
inline constexpr int kTenSecondTest = 0;
inline constexpr int kMaxTestMinutes = 99;
// A queued shut-down or self-test is served on this many ticks: sent on the even ones.
inline constexpr int kRepeatTicks = 6;

// USB helper request codes (copy-data identifiers).
enum UsbRequestCode : int {
    kUsbStatus = 150,
    kUsbRating = 151,
    kUsbBasicInfo = 152,
    kUsbSelfTest = 153,
    kUsbToggleBeeper = 154,
    kUsbCancelTest = 155,
    kUsbShutdown = 156,
};

// SEC texts that the agent builds or sends around its commands.
namespace sec_texts {
inline constexpr std::string_view kPollStatus = "^P003ST2";
inline constexpr std::string_view kTestUntilLow = "^S004TST3";
inline constexpr std::string_view kTenSecondTest = "^S004TST2";
inline constexpr std::string_view kTimedTest = "^S004TST1";
inline constexpr std::string_view kCancelTest = "^S005TST-1";
inline constexpr std::string_view kToggleBeeper = "^S011NOM,,,,,,,2";
inline constexpr std::string_view kShutdownPrepare1 = "^S004ATR1";
inline constexpr std::string_view kShutdownPrepare2 = "^S004SDA1";
inline constexpr std::string_view kAcknowledged = "^1";
}  // namespace sec_texts

struct TimedSend {
    std::string text;
    int waitAfterMs = 0;
    bool operator==(const TimedSend&) const = default;
};

struct UsbRequest {
    int code;
    std::int32_t first;
    std::int32_t second;
    bool operator==(const UsbRequest&) const = default;
};

struct TickInput {
    LinkKind link = LinkKind::kQ1;
    bool stopping = false;  // the serial link is being replaced
    bool secIdle = true;    // no SEC poll sequence is running
};

struct TickAction {
    enum class Served { kPoll, kShutdown, kCancelTest, kSelfTest, kBeeper };
    Served served = Served::kPoll;

    // Texts to send through the send lock, in order, each followed by its wait.
    std::vector<TimedSend> sends;
    // A SEC command the UPS must acknowledge: repeat { send, wait 500 ms, read 4 bytes } until
    // the reply starts "^1" (sec_texts::kAcknowledged) or more than 3 whole seconds have passed
    // since the first send. For a self-test, call CommandQueue::OnSelfTestAcknowledged on "^1".
    std::optional<std::string> secAcknowledged;
    std::optional<UsbRequest> usb;

    // Poll bookkeeping, done before the sends.
    bool raiseContinue = false;      // raise the link's continue event
    std::optional<int> readingMode;  // 0 event-driven (Q1), 1 polled (SEC)
    bool setSecIdle = false;         // the SEC idle flag becomes 1
    bool infoQuerySent = false;      // an "F"/"I" query: ConnectionTracker::OnInfoQuerySent

    // The last repeat of a shut-down has gone: raise the shutdown-command-done event.
    bool raiseShutdownDone = false;
};

class CommandQueue {
  public:
    // The dialect the command texts are built for; set on every connect step.
    void SetLinkKind(LinkKind kind);

    // Trace line when queued, nothing when refused (delay outside 12..5940 s, restore outside
    // 0..9999 min, test length outside -1..99).
    std::optional<std::string> SetShutdown(int delaySeconds, int restoreMinutes);
    std::optional<std::string> StartTest(int minutes);
    std::string CancelTest();
    std::string ToggleBeeper();

    // One tick's sending choice; the first positive counter is served and decremented.
    TickAction Tick(const TickInput& in);

    // A SEC self-test was acknowledged with "^1": it is not repeated.
    void OnSelfTestAcknowledged();

    // What a parsed status means for the queue; true when the shutdown-command-done event must
    // be raised.
    bool Apply(const CommandEffects& effects);

    // The command-sent flags that the change detection tests (ChangeInput).
    bool shutdownCommandSent() const;
    bool selfTestCommandSent() const;

    struct Snapshot {
        int shutdown, selfTest, cancelTest, beeper;
        std::string shutdownText, restoreText, testText;
        int restoreFlag, pollCounter;
    };
    Snapshot snapshot() const;

  private:
    void StatusPoll(const TickInput& in, TickAction& a) const;
    void RegularPoll(const TickInput& in, TickAction& a);
    void SendShutdown(const TickInput& in, TickAction& a) const;
    void SendSelfTest(const TickInput& in, TickAction& a);

    // The main thread queues while the UPS thread ticks.
    mutable std::mutex mutex_;
    LinkKind kind_ = LinkKind::kQ1;
    int shutdownCounter_ = 0;
    int selfTestCounter_ = 0;
    int cancelTestCounter_ = 0;
    int beeperCounter_ = 0;
    int pollCounter_ = 0;
    std::string shutdownText_;
    std::string restoreText_;
    std::string testText_;
    int shutdownDelay_ = 0;
    int restoreMinutes_ = 0;
    int restoreFlag_ = 0;
    int usbTestValue_ = 0;  // the test as the USB helper numbers it
    bool shutdownSent_ = false;
    bool selfTestSent_ = false;
};

}  // namespace torvane
