#include "panel_state.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "ups_lib/schedule_time.h"

namespace kelvora::panel {

namespace lk = ups::link;

namespace {

// The panel's texts, as its users know them.
constexpr const char* kConnectedText = "UPS和電腦連線";
constexpr const char* kDisconnectedText = "UPS和電腦斷線";
constexpr const char* kUtilityFailedText = "市電中斷";
constexpr const char* kUtilityNormalText = "市電正常";
constexpr const char* kBatteryLowText = "電池低電位";
constexpr const char* kBatteryNormalText = "電池電位正常";
constexpr const char* kBypassText = "Bypass模式";
constexpr const char* kBoostText = "升壓";
constexpr const char* kBuckText = "降壓";
constexpr const char* kOnBatteryText = "由電池供電";
constexpr const char* kCountdownText = "倒數計時";
constexpr const char* kFaultText = "電池損壞";
constexpr const char* kSelfTestText = "UPS自我測試";

std::string StripReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

}  // namespace

std::string FormatSpan(std::int64_t seconds) {
    // As a time span prints it: each field keeps the sign of the whole, hours within the day.
    const std::int64_t hours = (seconds / 3600) % 24;
    const std::int64_t minutes = (seconds / 60) % 60;
    const std::int64_t secs = seconds % 60;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(secs));
    return text;
}

PanelState::PanelState(std::function<std::int64_t()> now) : now_(std::move(now)) {
    if (!now_) now_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    At(Label::Connection).text = kDisconnectedText;
    At(Label::Utility).text = kUtilityNormalText;
    At(Label::Battery).text = kBatteryNormalText;
    At(Label::Fault).text = kFaultText;
    At(Label::SelfTest).text = kSelfTestText;
    At(Label::Avr).text = kBypassText;
    At(Label::OnBattery).text = kOnBatteryText;
    At(Label::Countdown).text = kCountdownText;
    for (Picture p : {Picture::UpsBad, Picture::UpsAvr, Picture::UpsTest}) At(p).enabled = false;
}

void PanelState::AddMessage(const std::string& text) {
    const std::tm local = ups::LocalTime(now_()).value_or(std::tm{});
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
    messages_.push_front(std::string(stamp) + "  " + text);
    ++messagesAdded_;
    if (messages_.size() > kMaxMessages) messages_.pop_back();
}

void PanelState::ToggleRawReplies() {
    showRaw_ = !showRaw_;
    if (!showRaw_) return;
    AddMessage(basicRaw_);
    AddMessage(ratingRaw_);
}

void PanelState::ConnectReset() {
    rating_ = {};
    At(Label::Connection).text = connected_ ? kConnectedText : kDisconnectedText;
    pictureMode_ = kOnlineNormal;
    utilityNormal_ = false;
    batteryNormal_ = false;
    At(Label::Utility).enabled = false;
    At(Label::Battery).enabled = false;
    onBattery_ = {};
    countdown_ = {};
    At(Label::OnBattery).enabled = false;
    At(Label::Countdown).enabled = false;
}

void PanelState::DisconnectedReset() {
    ConnectReset();
    connected_ = false;
    for (std::size_t i = 0; i < 6; ++i) labels_[i].enabled = false;
    At(Picture::Earth).running = false;
    StopAndReset(Picture::AcFail);
    StopAndReset(Picture::BatteryLow);
    for (Picture p : {Picture::UpsBad, Picture::UpsAvr, Picture::UpsTest}) {
        StopAndReset(p);
        At(p).enabled = false;
    }
}

void PanelState::Connected() {
    Start(Picture::Earth);
    StopAndReset(Picture::Disconnected);
    connected_ = true;
    AddMessage("UPS Connected");
    At(Label::Connection).text = kConnectedText;
    for (Label l : {Label::Utility, Label::Battery, Label::Connection}) At(l).enabled = true;
    animating_ = true;
}

void PanelState::NotConnected() {
    Effects ignored;
    DisconnectedReset();
    At(Picture::Earth).running = false;
    Start(Picture::Disconnected);
    connected_ = false;
    AddMessage("UPS not Connected");
    At(Label::Connection).text = kDisconnectedText;
    PowerNormal(ignored);
    BatteryNormal();
    At(Label::Connection).enabled = true;
    animating_ = false;
}

void PanelState::PowerFail(Effects& e) {
    Start(Picture::AcFail);
    utilityNormal_ = false;
    AddMessage("Power Fail");
    pictureMode_ = online_ ? kOnlineFail : kStandbyFail;
    At(Label::Utility).text = kUtilityFailedText;
    At(Label::OnBattery).enabled = true;
    onBattery_.enabled = true;
    failedAt_ = now_();
    e.startOnBatteryClock = true;
}

void PanelState::PowerNormal(Effects& e) {
    StopAndReset(Picture::AcFail);
    utilityNormal_ = true;
    AddMessage("Power Normal");
    if (online_) {
        pictureMode_ = bypassShown_ ? kOnlineBypass : kOnlineNormal;
    } else {
        pictureMode_ = kStandbyNormal;
    }
    At(Label::Utility).text = kUtilityNormalText;
    e.stopOnBatteryClock = true;
    onBattery_ = {};
    At(Label::OnBattery).enabled = false;
}

void PanelState::BatteryLow() {
    Start(Picture::BatteryLow);
    batteryNormal_ = false;
    AddMessage("Battery Low");
    At(Label::Battery).text = kBatteryLowText;
}

void PanelState::BatteryNormal() {
    StopAndReset(Picture::BatteryLow);
    batteryNormal_ = true;
    AddMessage("Battery Normal");
    At(Label::Battery).text = kBatteryNormalText;
}

void PanelState::AvrOn() {
    if (online_) {
        pictureMode_ = kOnlineBypass;
        bypassShown_ = true;
        At(Label::Avr).text = kBypassText;
    } else {
        pictureMode_ = kStandbyAvr;
        At(Label::Avr).text = buck_ ? kBuckText : boost_ ? kBoostText : kBypassText;
    }
    At(Label::Avr).enabled = true;
    At(Picture::UpsAvr).enabled = true;
    Start(Picture::UpsAvr);
}

void PanelState::AvrOff() {
    if (online_) {
        pictureMode_ = kOnlineNormal;
        bypassShown_ = false;
    } else {
        pictureMode_ = kStandbyNormal;
    }
    At(Label::Avr).enabled = false;
    StopAndReset(Picture::UpsAvr);
    At(Picture::UpsAvr).enabled = false;
}

void PanelState::Countdown(std::int32_t seconds) {
    At(Label::Countdown).enabled = true;
    countdown_.enabled = true;
    const std::string text = FormatSpan(seconds);
    // A negative span is no countdown: the display stops rather than show it.
    if (text.find('-') != std::string::npos) {
        CountdownStopped();
        return;
    }
    countdown_.text = text;
}

void PanelState::CountdownStopped() {
    AddMessage("Shutdown Countdown stopped");
    countdown_ = {};
    At(Label::Countdown).enabled = false;
}

void PanelState::TickOnBatteryClock() {
    if (utilityNormal_) return;
    onBattery_.text = FormatSpan(std::max<std::int64_t>(0, now_() - failedAt_));
}

Effects PanelState::Apply(const lk::Message& m, Via via) {
    Effects e;
    switch (m.code) {
        case lk::kGoodbye:
            e.dropLink = true;
            AddMessage(via == Via::CopyData ? "Local Agent Closed" : "Remote Agent Closed");
            DisconnectedReset();
            animating_ = false;
            e.reconnect = via == Via::Socket;
            break;
        case lk::kConfig:
            if (auto* c = m.As<ups::CConfig>()) {
                config_ = *c;
                e.configChanged = true;
                e.send.push_back(lk::Encode(lk::kGetMsgTab));
            }
            break;
        case lk::kMsgTab:
            if (auto* t = m.As<ups::CMsgTab>()) {
                msgTab_ = *t;
                e.msgTabChanged = true;
            }
            break;
        case lk::kEventLog:
            if (auto* log = m.As<lk::EventLogRecords>()) {
                eventLog_ = log->records;
                e.eventLogChanged = true;
            }
            break;
        case lk::kSchedule:
            if (auto* s = m.As<ups::CSchedule>()) {
                schedule_.CopyFrom(*s);
                e.scheduleChanged = true;
            }
            break;
        case lk::kDataLog:
            if (auto* log = m.As<lk::DataLogRecords>()) {
                dataLog_ = log->records;
                e.dataLogChanged = true;
            }
            break;
        case lk::kStatus:
            if (auto* s = m.As<ups::CUPSStatus>()) {
                status_ = s->Get();
                if (showRaw_) AddMessage(status_.rawLine);
            }
            break;
        case lk::kBasicInfo:
            if (auto* b = m.As<ups::CUPSBasicInfo>()) {
                basic_ = b->Get();
                basicRaw_ = StripReturns(basic_.rawLine);
            }
            break;
        case lk::kRatingInfo:
            if (auto* r = m.As<ups::CUPSRatingInfo>()) {
                rating_ = r->Get();
                ratingRaw_ = StripReturns(rating_.rawLine);
            }
            break;
        case lk::kConnected:
            Connected();
            break;
        case lk::kNotConnected:
            NotConnected();
            break;
        case lk::kTestRunning:
            AddMessage("UPS Self-Test in Progress");
            At(Label::SelfTest).enabled = true;
            At(Picture::UpsTest).enabled = true;
            Start(Picture::UpsTest);
            break;
        case lk::kTestFinished:
            AddMessage("UPS Self-Test finished");
            At(Label::SelfTest).enabled = false;
            StopAndReset(Picture::UpsTest);
            At(Picture::UpsTest).enabled = false;
            break;
        case lk::kUtilityFailed:
            PowerFail(e);
            break;
        case lk::kUtilityRestored:
            PowerNormal(e);
            break;
        case lk::kBatteryLow:
            BatteryLow();
            break;
        case lk::kBatteryLowCleared:
            BatteryNormal();
            break;
        case lk::kCountdown:
            Countdown(m.number);
            break;
        case lk::kCountdownStopped:
            CountdownStopped();
            break;
        case lk::kUpsFailure:
            AddMessage("UPS FAIL");
            At(Label::Fault).enabled = true;
            At(Picture::UpsBad).enabled = true;
            Start(Picture::UpsBad);
            break;
        case lk::kUpsGood:
            AddMessage("UPS Good");
            At(Label::Fault).enabled = false;
            StopAndReset(Picture::UpsBad);
            At(Picture::UpsBad).enabled = false;
            break;
        case lk::kStandbyType:
            online_ = false;
            pictureMode_ = kStandbyNormal;
            break;
        case lk::kOnlineType:
            online_ = true;
            pictureMode_ = kOnlineNormal;
            break;
        case lk::kBoosting:
            AddMessage("UPS on BOOST");
            boost_ = true;
            buck_ = false;
            AvrOn();
            break;
        case lk::kBucking:
            AddMessage("UPS on BUCK");
            buck_ = true;
            boost_ = false;
            AvrOn();
            break;
        case lk::kNoBoostBuck:
            AddMessage(via == Via::CopyData ? "UPS not in Boost or Buck Mode"
                                            : "UPS not in Boost or Buck mode");
            boost_ = buck_ = false;
            AvrOff();
            break;
        case lk::kOnBypass:
            AddMessage("UPS on BYPASS");
            AvrOn();
            break;
        case lk::kNotOnBypass:
            AddMessage("UPS not in Bypass Mode");
            AvrOff();
            break;
        case lk::kCloseInfo:
            if (auto* c = m.As<ups::CCloseInfo>()) {
                closeInfo_ = *c;
                e.closeInfoChanged = true;
            }
            break;
        case lk::kWrongPassword:
            if (via == Via::Socket) {
                e.send.push_back(lk::Encode(lk::kGoodbye));
                e.dropLink = true;
                e.askWrongPassword = true;
            }
            break;
        default:
            break;  // a code this panel does not know changes nothing
    }
    return e;
}

}  // namespace kelvora::panel
