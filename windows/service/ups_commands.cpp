#include "ups_commands.h"

#include <cstdio>

#include "q1_dialect.h"

namespace torvane {
namespace {

constexpr int kSecPrepareWaitMs = 500;
constexpr int kSecRestoreWaitMs = 10;
constexpr int kPollCycle = 11;  // poll counter 0..10
constexpr int kRatingSlot = 1;
constexpr int kBasicSlot = 3;

// "^S00" + the length of what follows + the name + the delay: ^S006PSD120.
std::string SecDelayText(const char* name, int delaySeconds) {
    const std::string delay = std::to_string(delaySeconds);
    return "^S00" + std::to_string(3 + delay.size()) + name + delay;
}

std::string Q1ShutdownText(int delaySeconds, int restoreMinutes) {
    char text[32];
    if (delaySeconds < 60) {
        std::snprintf(
            text, sizeof text,
            restoreMinutes > 0 ? q1::kShutdownFractionRestoreFormat : q1::kShutdownFractionFormat,
            delaySeconds / 60.0, restoreMinutes);
        // 57..59 s print as "1.0": with its first digit overwritten that would be "S.0", an
        // immediate shut-down. The nearest tenth is then a whole minute, so say one minute.
        if (text[0] != '0') {
            delaySeconds = 60;
        } else {
            text[0] = 'S';
            return text;
        }
    }
    if (restoreMinutes > 0) {
        std::snprintf(text, sizeof text, q1::kShutdownMinutesRestoreFormat, delaySeconds / 60,
                      restoreMinutes);
    } else {
        std::snprintf(text, sizeof text, q1::kShutdownMinutesFormat, delaySeconds / 60);
    }
    return text;
}

}  // namespace

void CommandQueue::SetLinkKind(LinkKind kind) {
    std::lock_guard lock(mutex_);
    kind_ = kind;
}

std::optional<std::string> CommandQueue::SetShutdown(int delaySeconds, int restoreMinutes) {
    if (delaySeconds < kMinShutdownDelay || delaySeconds > kMaxShutdownDelay) return std::nullopt;
    if (restoreMinutes < 0 || restoreMinutes > kMaxRestoreMinutes) return std::nullopt;
    std::lock_guard lock(mutex_);
    shutdownDelay_ = delaySeconds;
    restoreMinutes_ = restoreMinutes;
    std::string trace;
    if (kind_ == LinkKind::kSec) {
        restoreFlag_ = -1;
        restoreText_.clear();
        if (restoreMinutes > 0) {
            restoreText_ = SecDelayText("RWD", delaySeconds);
            restoreFlag_ = restoreMinutes;
        }
        shutdownText_ = SecDelayText("PSD", delaySeconds);
        trace = "UPS shut down command is: " + shutdownText_ +
                "\nUPS Restore command is: " + restoreText_ + "\n";
    } else {
        shutdownText_ = Q1ShutdownText(delaySeconds, restoreMinutes);
        trace = "UPS shut down command is: " + shutdownText_ + "\n";
    }
    shutdownCounter_ = kRepeatTicks;
    return trace;
}

std::optional<std::string> CommandQueue::StartTest(int minutes) {
    std::lock_guard lock(mutex_);
    const bool sec = kind_ == LinkKind::kSec;
    std::string text;
    if (minutes == kTestUntilBatteryLow) {
        text = sec ? sec_texts::kTestUntilLow : q1::kTestUntilLow;
        usbTestValue_ = -2;
    } else if (minutes == kTenSecondTest) {
        text = sec ? sec_texts::kTenSecondTest : q1::kTenSecondTest;
        usbTestValue_ = -1;
    } else if (minutes >= 1 && minutes <= kMaxTestMinutes) {
        if (sec) {
            text = sec_texts::kTimedTest;
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, q1::kTimedTestFormat, minutes);
            text = buffer;
        }
        usbTestValue_ = minutes;
    } else {
        return std::nullopt;
    }
    testText_ = text;
    selfTestCounter_ = kRepeatTicks;
    return "UPS test " + text + "\n";
}

std::string CommandQueue::CancelTest() {
    std::lock_guard lock(mutex_);
    cancelTestCounter_ = 1;
    selfTestCounter_ = 0;
    testText_.clear();
    return "Cancel test\n";
}

std::string CommandQueue::ToggleBeeper() {
    std::lock_guard lock(mutex_);
    beeperCounter_ = 1;
    return "Toggle beeper\n";
}

TickAction CommandQueue::Tick(const TickInput& in) {
    std::lock_guard lock(mutex_);
    TickAction a;
    if (shutdownCounter_ > 0) {
        a.served = TickAction::Served::kShutdown;
        if (shutdownCounter_ % 2 == 0) {
            SendShutdown(in, a);
            shutdownSent_ = true;
        } else {
            StatusPoll(in, a);
            if (shutdownCounter_ == 1) a.raiseShutdownDone = true;
        }
        --shutdownCounter_;
    } else if (cancelTestCounter_ > 0) {
        a.served = TickAction::Served::kCancelTest;
        switch (in.link) {
            case LinkKind::kSec:
                a.sends.push_back({std::string(sec_texts::kCancelTest)});
                break;
            case LinkKind::kUsb:
                a.usb = UsbRequest{kUsbCancelTest, 2, 1};
                break;
            case LinkKind::kQ1:
                a.sends.push_back({std::string(q1::kCancelTest)});
                break;
        }
        --cancelTestCounter_;
    } else if (selfTestCounter_ > 0) {
        a.served = TickAction::Served::kSelfTest;
        if (selfTestCounter_ % 2 == 0) {
            SendSelfTest(in, a);
            selfTestSent_ = true;
        } else {
            StatusPoll(in, a);
        }
        --selfTestCounter_;
    } else if (beeperCounter_ > 0) {
        a.served = TickAction::Served::kBeeper;
        switch (in.link) {
            case LinkKind::kSec:
                a.secAcknowledged = std::string(sec_texts::kToggleBeeper);
                break;
            case LinkKind::kUsb:
                a.usb = UsbRequest{kUsbToggleBeeper, 2, 1};
                break;
            case LinkKind::kQ1:
                a.sends.push_back({std::string(q1::kToggleBeeper)});
                break;
        }
        --beeperCounter_;
    } else {
        RegularPoll(in, a);
    }
    return a;
}

void CommandQueue::SendShutdown(const TickInput& in, TickAction& a) const {
    switch (in.link) {
        case LinkKind::kSec:
            a.sends.push_back({std::string(sec_texts::kShutdownPrepare1), kSecPrepareWaitMs});
            a.sends.push_back({std::string(sec_texts::kShutdownPrepare2), kSecPrepareWaitMs});
            if (restoreFlag_ > 0) a.sends.push_back({restoreText_, kSecRestoreWaitMs});
            a.sends.push_back({shutdownText_});
            break;
        case LinkKind::kUsb:
            a.usb = UsbRequest{kUsbShutdown, shutdownDelay_, restoreMinutes_};
            break;
        case LinkKind::kQ1:
            a.sends.push_back({shutdownText_});
            break;
    }
}

void CommandQueue::SendSelfTest(const TickInput& in, TickAction& a) {
    switch (in.link) {
        case LinkKind::kSec:
            a.secAcknowledged = testText_;
            break;
        case LinkKind::kUsb:
            // The helper acknowledges by itself: one request is enough.
            a.usb = UsbRequest{kUsbSelfTest, usbTestValue_, 0};
            selfTestCounter_ = 1;
            break;
        case LinkKind::kQ1:
            a.sends.push_back({testText_});
            break;
    }
}

// The status query alone, as sent between the repeats of a command: it neither asks for the
// rating or identification nor moves the poll counter.
void CommandQueue::StatusPoll(const TickInput& in, TickAction& a) const {
    switch (in.link) {
        case LinkKind::kQ1:
            a.raiseContinue = !in.stopping;
            a.readingMode = 0;
            a.sends.push_back({std::string(q1::kStatusQuery)});
            a.setSecIdle = true;
            break;
        case LinkKind::kUsb:
            a.usb = UsbRequest{kUsbStatus, 2, 1};
            break;
        case LinkKind::kSec:
            a.readingMode = 1;
            if (in.secIdle) a.sends.push_back({std::string(sec_texts::kPollStatus)});
            break;
    }
}

void CommandQueue::RegularPoll(const TickInput& in, TickAction& a) {
    a.served = TickAction::Served::kPoll;
    if (pollCounter_ == kRatingSlot || pollCounter_ == kBasicSlot) {
        const bool rating = pollCounter_ == kRatingSlot;
        switch (in.link) {
            case LinkKind::kQ1:
                a.sends.push_back({std::string(rating ? q1::kRatingQuery : q1::kBasicQuery)});
                a.infoQuerySent = true;
                break;
            case LinkKind::kUsb:
                a.usb = UsbRequest{rating ? kUsbRating : kUsbBasicInfo, 2, 1};
                break;
            case LinkKind::kSec:
                break;  // the SEC poll sequence fetches the identification itself
        }
    } else {
        StatusPoll(in, a);
    }
    pollCounter_ = (pollCounter_ + 1) % kPollCycle;
}

void CommandQueue::OnSelfTestAcknowledged() {
    std::lock_guard lock(mutex_);
    // Tick has already counted this send; an acknowledged test is not repeated.
    selfTestCounter_ = 0;
}

bool CommandQueue::Apply(const CommandEffects& effects) {
    std::lock_guard lock(mutex_);
    bool done = false;
    if (effects.shutdownConfirmed) {
        shutdownSent_ = false;
        shutdownCounter_ = 0;
        shutdownText_.clear();
        done = true;
    }
    if (effects.selfTestConfirmed) {
        selfTestSent_ = false;
        selfTestCounter_ = 0;
        testText_.clear();
    }
    if (effects.selfTestStarted && selfTestCounter_ > 0) {
        selfTestCounter_ = 0;
        testText_.clear();
    }
    return done;
}

bool CommandQueue::shutdownCommandSent() const {
    std::lock_guard lock(mutex_);
    return shutdownSent_;
}

bool CommandQueue::selfTestCommandSent() const {
    std::lock_guard lock(mutex_);
    return selfTestSent_;
}

CommandQueue::Snapshot CommandQueue::snapshot() const {
    std::lock_guard lock(mutex_);
    return {shutdownCounter_, selfTestCounter_, cancelTestCounter_, beeperCounter_, shutdownText_,
            restoreText_,     testText_,        restoreFlag_,       pollCounter_};
}

}  // namespace torvane
