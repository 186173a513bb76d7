#include "ups.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "demo_comm.h"
#include "q1_dialect.h"
#include "rs232.h"
#include "sec_dialect.h"
#include "ups_capacity.h"
#include "ups_lib/platform/registry.h"
#include "ups_lib/platform/system_log.h"
#include "ups_lib/trace.h"
#include "usb_link.h"

namespace torvane {

// The UPS object's hidden window: everything it does runs in these two handlers, one at a time.
class CUPS::Window final : public platform::Window {
  public:
    explicit Window(CUPS& ups) : ups_(ups) {}

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override {
        return ups_.OnMessage(msg, wparam, lparam);
    }
    void OnTimer(std::uintptr_t id) override {
        if (id == kUpsTimerId) ups_.OnTick();
    }

  private:
    CUPS& ups_;
};

namespace {

constexpr std::string_view kModelKey = "Software\\Stavlen\\UPSModel";

}  // namespace

CUPS::CUPS(std::function<std::int64_t()> now) : now_(std::move(now)) {}

CUPS::~CUPS() {
    StopUsbLink();
    // A link never calls into a UPS object that is going away.
    if (thread_) {
        thread_->Invoke([this] {
            if (link_ != nullptr) link_->SetOwner(nullptr);
            link_ = nullptr;
        });
    }
    if (window_) {
        window_->KillTimer(kUpsTimerId);
        window_.reset();
    }
    if (thread_) thread_->Quit();
    thread_.reset();
    ups::Trace("Destroy UPS Object\n");
}

std::int64_t CUPS::Now() const {
    return now_ ? now_() : static_cast<std::int64_t>(std::time(nullptr));
}

void CUPS::Start(platform::WindowHandle owner, std::chrono::milliseconds tick) {
    if (thread_) return;
    owner_ = owner;
    thread_ = std::make_unique<platform::WindowThread>();
    window_ = thread_->Create<Window>(*this);
    if (!window_) return;
    self_ = window_->handle();
    window_->SetTimer(kUpsTimerId, tick);
}

void CUPS::SetDelays(int acFailMinutes, int batteryLowMinutes, int scheduleWarningMinutes) {
    std::lock_guard lock(settingsMutex_);
    settings_ = {acFailMinutes, batteryLowMinutes, scheduleWarningMinutes};
}

void CUPS::SetScheduleSource(ScheduleSource* schedule) {
    if (schedule == nullptr) return;
    std::lock_guard lock(settingsMutex_);
    schedule_ = schedule;
}

void CUPS::SetSecDialect(bool sec) {
    sec_ = sec;
    queue_.SetLinkKind(Kind());
}

void CUPS::SetUsb(bool usb) {
    usb_ = usb;
    queue_.SetLinkKind(Kind());
}

LinkKind CUPS::Kind() const {
    if (usb_) return LinkKind::kUsb;
    return sec_ ? LinkKind::kSec : LinkKind::kQ1;
}

// --- links ------------------------------------------------------------------------------------

void CUPS::AttachLink(CCommLink* link) {
    if (link == nullptr || !thread_) return;
    thread_->Invoke([&] {
        link_ = link;
        link->SetOwner(this);
        link->SetEventChar('\r');
        if (sec_) {
            link->SetReadingMode(kReadPolled);
            if (secIdle_) SendText(kSecPollQuery);
        } else {
            link->SetReadingMode(kReadEventDriven);
            link->ContinueEvent().Set();
            SendText(std::string(q1::kStatusQuery));
            secIdle_ = true;
        }
    });
}

void CUPS::DetachLink() {
    if (!thread_) return;
    thread_->Invoke([&] {
        if (link_ != nullptr) link_->SetOwner(nullptr);
        link_ = nullptr;
        LinkOutcome out = tracker_.OnDetached();
        if (out.resetData) ResetData();
        Post(out.reactions);
    });
}

void CUPS::Connect(const ups::CConfig& config, CRS232& serial, CDemoComm& demo,
                   const std::string& demoFile, bool reportFailure) {
    switch (config.upsType) {
        case ups::CConfig::kDemo:
            DetachLink();
            demo.Close();
            StopUsbLink();
            SetUsb(false);
            if (demo.Open(demoFile)) {
                SetSecDialect(false);
                AttachLink(&demo);
            }
            return;
        case ups::CConfig::kStavUsb:
            DetachLink();
            serial.Close();
            demo.Close();
            SetSecDialect(false);
            SetUsb(true);
            helperPresent_ = false;
            StartUsbLink();
            return;
        case ups::CConfig::kStavlen:
        case ups::CConfig::kSec24:
        case ups::CConfig::kSec96:
            break;
        default:
            return;
    }
    StopUsbLink();
    SetUsb(false);
    SetSecDialect(config.upsType != ups::CConfig::kStavlen);
    if (config.comPort == ups::CConfig::kNoPort) {
        DetachLink();
        serial.Close();
        return;
    }
    stopping_ = serial.IsOpen();
    DetachLink();
    serial.Close();
    demo.Close();
    serial.Open(config.comPort, config.baudRate);
    stopping_ = false;
    if (serial.IsOpen()) {
        AttachLink(&serial);
    } else if (reportFailure && thread_) {
        // The port told nobody: it had no owner while it was being opened.
        thread_->Invoke([this] { OnLinkNotify(kCommOpenFailed, 0); });
    }
}

void CUPS::StartUsbLink() {
    if (!self_.IsWindow()) return;
    {
        std::lock_guard lock(usbMutex_);
        if (usbLink_) return;
    }
    auto link = std::make_unique<UsbLink>(self_);
    if (!link->Open()) return;
    std::lock_guard lock(usbMutex_);
    usbLink_ = std::move(link);
}

void CUPS::StopUsbLink() {
    std::unique_ptr<UsbLink> link;
    {
        std::lock_guard lock(usbMutex_);
        link = std::move(usbLink_);
    }
    if (link) link->QuitHelper();
}

void CUPS::CommNotify(int lParam, int wParam) {
    // A reply is read before the reader waits again, so data-ready is a send; the rest are posts.
    if (lParam == kCommDataReady) {
        self_.Send(platform::kWmCommNotify, static_cast<std::uintptr_t>(wParam), lParam);
    } else {
        self_.Post(platform::kWmCommNotify, static_cast<std::uintptr_t>(wParam), lParam);
    }
}

std::intptr_t CUPS::OnMessage(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam) {
    if (msg == platform::kWmCommNotify) {
        OnLinkNotify(static_cast<int>(lparam), static_cast<int>(wparam));
    } else if (msg == platform::kWmCopyData && lparam != 0) {
        OnHelperReply(*reinterpret_cast<const platform::CopyDataMessage*>(lparam));
        return 1;
    }
    return 0;
}

void CUPS::OnLinkNotify(int lParam, int wParam) {
    (void)wParam;
    LinkOutcome out;
    switch (lParam) {
        case kCommConnected:
            out = tracker_.OnLinkConnected(Now());
            break;
        case kCommDisconnected:
            out = tracker_.OnLinkDisconnected();
            break;
        case kCommDataReady: {
            tracker_.OnDataReady();
            if (link_ == nullptr) return;
            if (sec_) {
                RunSecSequence();
            } else {
                char buffer[q1::kReplyBufferSize];
                int n = link_->Read(buffer, static_cast<int>(sizeof buffer));
                if (n > 0) HandleReply(std::string(buffer, static_cast<std::size_t>(n)));
            }
            break;
        }
        case kCommNoReply:
            if (usb_) helperPresent_ = false;
            out = tracker_.OnNoReply(status_.Get().status);
            break;
        case kCommOpenFailed:
            out = tracker_.OnPortOpenFailed();
            break;
        default:
            return;
    }
    if (out.resetData) ResetData();
    connected_ = tracker_.connected();
    connectionTime_ = tracker_.connectionTime();
    Post(out.reactions);
}

// --- replies ----------------------------------------------------------------------------------

bool CUPS::HandleStatusLine(const std::string& line) {
    auto parsed = q1::ParseStatus(line);
    if (!parsed) return false;
    ups::UPSStatusValues values = *parsed;
    ups::UPSRatingValues rated = rating_.Get();
    CapacityInput capacity;
    capacity.connected = tracker_.connected();
    capacity.secDialect = sec_;
    capacity.secCapacity = secCapacity_;
    capacity.batteryVoltage = values.batteryVoltage;
    capacity.status = values.status;
    capacity.ratedBatteryVoltage = rated.batteryVoltage;
    values.batteryCapacity = torvane::GetBatteryCapacity(capacity);
    status_.Set(values);
    alarms_ = values.status;
    lastAlarms_ = values.status;

    ChangeOutcome change = changes_.OnStatusParsed(
        {values, Now(), queue_.shutdownCommandSent(), queue_.selfTestCommandSent()});
    if (queue_.Apply(change.commands)) shutdownDone_.Set();
    RefreshFlags();
    Post(change.reactions);
    return true;
}

void CUPS::HandleReply(const std::string& reply) {
    switch (q1::ClassifyReply(reply)) {
        case q1::ReplyKind::kStatus:
            HandleStatusLine(reply);
            break;
        case q1::ReplyKind::kBasicInfo:
            PostCode(kNotifyBasicReply);
            if (q1::ParseBasicInfo(reply, basic_)) {
                PostCode(kNotifyBasicInfo);
                ups::Trace("Get Basic Info(I) from UPS\n");
            }
            break;
        case q1::ReplyKind::kRatingInfo:
            if (q1::ParseRatingInfo(reply, rating_)) {
                PostCode(kNotifyRatingInfo);
                ups::Trace("Get Rating Info(F) from UPS\n");
            }
            break;
        case q1::ReplyKind::kNone:
            break;
    }
}

void CUPS::OnHelperReply(const platform::CopyDataMessage& message) {
    // A helper still answering after the UPS type changed has nothing to tell us.
    if (!usb_) return;
    if (message.identifier == kUsbReplyLine) {
        std::string line = UsbReplyLine(message.data, q1::kReplyBufferSize);
        if (!helperPresent_) {
            helperPresent_ = true;
            // One miss clears the flag but not the connection: the UPS was there all along,
            // and its next reply must not log a second "connected".
            if (!tracker_.connected()) OnLinkNotify(kCommConnected, 0);
        }
        tracker_.OnDataReady();
        HandleReply(line);
    } else if (message.identifier == kUsbNoAnswer) {
        OnLinkNotify(kCommNoReply, 0);
    }
}

void CUPS::RunSecSequence() {
    secBusy_ = true;
    secIdle_ = false;
    SecLine line{*link_, SteadySecClock(),
                 [this](int flags) {
                     if (auto* serial = dynamic_cast<CRS232*>(link_)) serial->Purge(flags);
                 },
                 [this](const char* text) { SendText(text); }, [this] { return stopping_.load(); }};
    SecPollResult result = RunSecPoll(line);
    secIdle_ = true;
    secBusy_ = false;
    if (!stopping_ && link_ != nullptr) link_->ContinueEvent().Set();
    if (result.capacity) secCapacity_ = *result.capacity;
    if (result.beeper) secBeeper_ = *result.beeper;
    for (int code : result.notifications) PostCode(code);
    if (!result.statusLine.empty()) HandleReply(result.statusLine);
    if (!result.infoLine.empty()) HandleReply(result.infoLine);
}

// --- the tick ---------------------------------------------------------------------------------

void CUPS::OnTick() {
    CountdownInput in;
    // What the UPS last said, even once it fell silent: a countdown that began must end in the
    // shutdown when the cable is pulled or the UPS dies, not be forgotten with the readings.
    in.status = alarms_;
    in.acFailTime = changes_.acFailTime();
    in.batteryLowTime = changes_.batteryLowTime();
    {
        std::lock_guard lock(settingsMutex_);
        in.settings = settings_;
        in.schedule = schedule_;
    }
    in.now = Now();
    CountdownOutcome counted = countdown_.Tick(in);
    scheduleActive_ = countdown_.scheduleActive();
    Post(counted.reactions);

    if (link_ == nullptr && !usb_) return;
    TickInput tick;
    tick.link = Kind();
    tick.stopping = stopping_;
    tick.secIdle = secIdle_;
    Perform(queue_.Tick(tick));
}

void CUPS::SendText(const std::string& text) {
    if (link_ == nullptr) return;
    std::lock_guard lock(sendMutex_);
    link_->SetWriteSignal(1);
    link_->Write(text.c_str());
}

void CUPS::Perform(const TickAction& a) {
    if (a.readingMode && link_ != nullptr) link_->SetReadingMode(*a.readingMode);
    if (a.raiseContinue && !stopping_ && link_ != nullptr) link_->ContinueEvent().Set();
    if (a.setSecIdle) secIdle_ = true;
    if (a.infoQuerySent) tracker_.OnInfoQuerySent();
    for (const TimedSend& send : a.sends) {
        SendText(send.text);
        if (send.waitAfterMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(send.waitAfterMs));
        }
    }
    if (a.secAcknowledged && link_ != nullptr) {
        SecLine line{*link_, SteadySecClock(),
                     [this](int flags) {
                         if (auto* serial = dynamic_cast<CRS232*>(link_)) serial->Purge(flags);
                     },
                     [this](const char* text) { SendText(text); },
                     [this] { return stopping_.load(); }};
        bool acknowledged = SendSecSettingAcknowledged(line, *a.secAcknowledged);
        if (acknowledged && a.served == TickAction::Served::kSelfTest) {
            queue_.OnSelfTestAcknowledged();
        }
    }
    if (a.usb) {
        std::lock_guard lock(usbMutex_);
        if (usbLink_) {
            usbLink_->Request(*a.usb);
        } else {
            ups::Trace("USB request without a helper link\n");
        }
    }
    if (a.raiseShutdownDone) shutdownDone_.Set();
}

// --- commands and queries -----------------------------------------------------------------------

platform::Event& CUPS::SetShutdown(int delaySeconds, int restoreMinutes) {
    auto trace = queue_.SetShutdown(delaySeconds, restoreMinutes);
    shutdownQueued_ = trace.has_value();
    if (trace) {
        shutdownDone_.Reset();
        ups::Trace(*trace);
    }
    return shutdownDone_;
}

void CUPS::StartTest(int minutes) {
    if (auto trace = queue_.StartTest(minutes)) ups::Trace(*trace);
}

void CUPS::CancelTest() {
    ups::Trace(queue_.CancelTest());
}

void CUPS::ToggleBeeper() {
    ups::Trace(queue_.ToggleBeeper());
}

int CUPS::GetBatteryCapacity() const {
    ups::UPSStatusValues s = status_.Get();
    return connected_ ? s.batteryCapacity : 0;
}

void CUPS::ResetData() {
    connected_ = false;
    connectionTime_ = 0;
    status_.Set({});
    basic_.Set({});
    rating_.Set({});
}

bool CUPS::IsACFail() const {
    return (status_.Get().status & ups::kUtilityFail) != 0;
}

bool CUPS::IsBatteryLow() const {
    return (status_.Get().status & ups::kBatteryLowBit) != 0;
}

bool CUPS::IsStandby() const {
    return (status_.Get().status & ups::kStandbyType) != 0;
}

bool CUPS::IsSelfTest() const {
    return (status_.Get().status & ups::kSelfTestRunning) != 0;
}

std::int64_t CUPS::ConnectionTime() const {
    return connectionTime_;
}

void CUPS::RefreshFlags() {
    boost_ = changes_.boost();
    buck_ = changes_.buck();
    bypass_ = changes_.bypass();
}

void CUPS::ReadModelInfoFromRegistry() {
    auto& registry = ups::platform::SystemRegistry();
    struct Value {
        const char* name;
        bool basic;
    };
    for (Value v : {Value{"BasicInfo", true}, Value{"RatingInfo", false}}) {
        ups::platform::ValueRead read = registry.ReadValue(kModelKey, v.name);
        if (read.status != ups::platform::ReadStatus::Found) {
            ups::platform::DefaultSystemLog().Alert(
                "Torvane", std::string(v.name) + "\nCant't find the string.");
            continue;
        }
        std::size_t size = std::min<std::size_t>(read.bytes.size(), 256);
        std::string text(read.bytes.begin(), read.bytes.begin() + static_cast<long>(size));
        if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
        text += '\r';
        bool ok = v.basic ? q1::ParseBasicInfo(text, basic_) : q1::ParseRatingInfo(text, rating_);
        if (!ok) {
            ups::platform::DefaultSystemLog().Alert(
                "Torvane", std::string(v.name) + "\nThe String is wrong type.");
            continue;
        }
        PostCode(v.basic ? kNotifyBasicInfo : kNotifyRatingInfo);
        ups::Trace(v.basic ? "Get Basic Info from registry\n" : "Get Rating Info from registry\n");
    }
}

// --- to the owner -------------------------------------------------------------------------------

void CUPS::PostCode(int code, std::int64_t value) {
    owner_.Post(kWmUpsNotify, static_cast<std::uintptr_t>(value), code);
}

void CUPS::Post(const Reactions& reactions) {
    for (const std::string& line : reactions.traces) ups::Trace(line);
    for (const Notification& n : reactions.posts) PostCode(n.code, n.wParam);
}

}  // namespace torvane
