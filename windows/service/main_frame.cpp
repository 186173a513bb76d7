#include "main_frame.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "child_process.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/log_records.h"
#include "ups_lib/platform/paths.h"
#include "ups_lib/trace.h"

namespace torvane {

namespace {

using namespace std::chrono_literals;
using ups::CEventLogRecord;

// However the UPS answers, the system shutdown waits for its confirmation no longer than the
// three repeats of the command take, and a little more.
constexpr auto kUpsConfirmationLimit = 30s;

// How long a program of the closing sequence has to end when it is asked to.
constexpr auto kClosingGrace = 5s;

}  // namespace

// The schedule as the UPS object's countdown asks it.
class CMainFrame::Schedule final : public ScheduleSource {
  public:
    explicit Schedule(const ups::CSchedule& schedule) : schedule_(schedule) {}
    std::optional<std::int64_t> NextShutdown(std::int64_t now) override {
        ups::CScheduleDetail entry;
        std::int64_t next = schedule_.NextTime(ups::kShutdown, entry, now);
        if (next <= 0) return std::nullopt;
        return next;
    }

  private:
    const ups::CSchedule& schedule_;
};

CMainFrame::CMainFrame(bool program_mode, std::function<void()> on_close)
    : programMode_(program_mode),
      onClose_(std::move(on_close)),
      reactions_([this] { return Now(); }) {
    ReadWatchSettings();
    config_.Load();
    msgTab_.Load();
    schedule_.ReadAll();
    eventLog_ = std::make_unique<ups::CEventLog>("Torvane");
    dataLog_ = std::make_unique<ups::CDataLog>();
    scheduleSource_ = std::make_unique<Schedule>(schedule_);
    alertLog_ = std::make_unique<EventLogAlertSink>(*eventLog_);
    email_ = std::make_unique<CEmailAlert>(
        [this](int kind) {
            std::lock_guard lock(recordsMutex_);
            return MailSettingsFor(config_, msgTab_, kind);
        },
        *alertLog_, MailerForSettings());
    pager_ = std::make_unique<CPagerAlerts>(*alertLog_);

    ups_ = std::make_unique<CUPS>();
    ups_->SetDelays(config_.acFailDelay, config_.batteryLowDelay, config_.scheduleWarnTime);
    ups_->SetScheduleSource(scheduleSource_.get());
    ups_->Start(handle());
    Connect();

    SetTimer(kFrameSecondTimer, 1000ms);
    SetTimer(kFrameMinuteTimer, 60000ms);
    if (programMode_) tray_ = std::make_unique<CapacityTray>(MakeTrayIcon());
    email_->Start();
    OpenClientLinks();
    OpenWatchers();
    ups::Trace("Torvane started\n");
}

CMainFrame::~CMainFrame() {
    CloseWatchers();
    udp_.reset();
    link_.reset();
    local_.Forget();
    KillTimer(kFrameSecondTimer);
    KillTimer(kFrameMinuteTimer);
    tray_.reset();
    EndClosing();
    // The links stop talking before the UPS object goes.
    ups_->DetachLink();
    serial_.Close();
    demo_.Close();
    ups_.reset();
    mailStopping_ = true;
    email_->Stop();
}

std::int64_t CMainFrame::Now() const {
    return static_cast<std::int64_t>(std::time(nullptr));
}

void CMainFrame::Connect(bool reportFailure) {
    ups_->Connect(config_, serial_, demo_,
                  (ups::platform::ProgramDirectory() / "demo.txt").string(), reportFailure);
}

void CMainFrame::ReopenMissingPort() {
    // A port that was not there at start (an adapter plugged in later) is tried again; one that
    // was open and went is reopened by the link itself.
    const bool serialType = config_.upsType == ups::CConfig::kStavlen ||
                            config_.upsType == ups::CConfig::kSec24 ||
                            config_.upsType == ups::CConfig::kSec96;
    if (!serialType || config_.comPort == ups::CConfig::kNoPort || serial_.IsOpen()) return;
    Connect(false);
}

ReactionSettings CMainFrame::Settings() const {
    ReactionSettings s;
    s.show_warnings = config_.showWarnings != 0;
    s.warn_repeat_seconds = config_.warnRepeat;
    s.data_log_on = config_.dataLogOn != 0;
    s.data_log_interval_seconds = config_.dataLogInterval;
    return s;
}

UpsView CMainFrame::View() const {
    UpsView v;
    v.ac_fail = ups_->IsACFail();
    v.battery_low = ups_->IsBatteryLow();
    v.self_test = ups_->IsSelfTest();
    v.standby = ups_->IsStandby();
    v.boost = ups_->IsBoost();
    v.buck = ups_->IsBuck();
    v.bypass = ups_->IsBypass();
    return v;
}

std::intptr_t CMainFrame::OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                                    std::intptr_t lparam) {
    switch (msg) {
        case kWmUpsNotify:
            OnUpsNotify(static_cast<int>(lparam), static_cast<int>(wparam));
            return 0;
        case kWmShutDownNow:
            ShutDownNow(config_.turnUpsOff != 0, config_.shutdownWindows != 0);
            return 0;
        case kWmCloseAndShutDown: {
            std::lock_guard lock(recordsMutex_);
            config_.turnUpsOff = 1;
            config_.shutdownWindows = 1;
        }
            StartClosing();
            return 0;
        case kWmForcedShutdown:
            // The UPS is about to be switched off by the one who sent it: this system goes too.
            if (shuttingDown_) return 0;
            ups::Trace("FSD from a NUT client: shutting down\n");
            std::fprintf(stderr, "Torvane: FSD from a NUT client: shutting down\n");
            BatteryLowShutdown();
            return 0;
        case platform::kWmCopyData:
            if (lparam == 0) return 0;
            return OnCopyData(*reinterpret_cast<const platform::CopyDataMessage*>(lparam));
        case platform::kWmClose:
            if (onClose_) onClose_();
            return 0;
        default:
            return 0;
    }
}

void CMainFrame::OnTimer(std::uintptr_t id) {
    if (id == kFrameSecondTimer) {
        ScheduledSelfTest();
        PublishSnapshot();
        if (tray_) tray_->Tick(ups_->GetBatteryCapacity());
    }
    if (id == kFrameMinuteTimer) {
        udp_->ExpireSilent();
        Listen();  // again, if a port was taken
        StartWatchers();
        ReopenMissingPort();
    }
}

void CMainFrame::ScheduledSelfTest() {
    ups::CScheduleDetail entry;
    const bool due = testWatch_.Due(
        Now(), [&](std::int64_t from) { return schedule_.NextTime(ups::kSelfTest, entry, from); });
    if (due) ups_->StartTest(entry.testLength);
}

void CMainFrame::OnUpsNotify(int code, int value) {
    Reaction r = reactions_.OnNotify(code, value, View(), Settings());
    NoteCountdown(code, value);
    Carry(r);
    PublishSnapshot();
}

void CMainFrame::Carry(const Reaction& r) {
    if (r.log)
        eventLog_->AddEvent(
            CEventLogRecord(r.log->id, r.log->type, static_cast<std::uint32_t>(Now())));
    BroadcastCodes(r);
    if (r.udp_bits != 0) {
        if ((r.udp_bits & kUdpBitCountdown) != 0) countdownSeconds_ = r.countdown_seconds;
        udp_->SetBits(r.udp_bits);
    }
    if (r.read_model_info) ups_->ReadModelInfoFromRegistry();
    if (r.data_log_sample) SampleDataLog();
    if (r.warning_kind >= 0) ShowBox(msgTab_.text[static_cast<std::size_t>(r.warning_kind)]);
    if (r.countdown_box) {
        std::array<std::string, 7> texts;
        for (std::size_t k = 0; k < texts.size(); ++k) texts[k] = msgTab_.text[k];
        ShowBox(CountdownBoxText(texts, ups_->LastSaidACFail(), ups_->LastSaidBatteryLow(),
                                 ups_->ScheduledCountdownActive(), r.countdown_seconds));
    }
    if (r.alert_kind >= 0) Alert(r.alert_kind);
    if (r.shut_down_at_once) BatteryLowShutdown();
    if (r.start_closing) StartClosing();
}

void CMainFrame::Alert(int kind) {
    lastAlertKind_ = kind;
    TellWatchers(static_cast<watch::EventKind>(kind), msgTab_.text[static_cast<std::size_t>(kind)]);
    if (config_.emailOn != 0) email_->RaiseMailEvent(kind);
    if (config_.pagerOn != 0) {
        lastPage_ = pager_->PagerThread(kind, PagerSettingsFor(config_, msgTab_, kind));
    } else {
        lastPage_.reset();
    }
}

void CMainFrame::ShowBox(const std::string& text) {
    auto program = FindOutsideProgram("Tessvar");
    if (program.empty()) return;  // not reported: the sequence goes on
    if (auto pid = StartOnDesktop({program.string(), text})) {
        // Not waited for; reaped in the background so that no zombie is left.
        std::thread([pid = *pid] { WaitProcess(pid); }).detach();
    }
}

void CMainFrame::StartClosing() {
    EndClosing();
    const bool closeApps = config_.closeApps != 0;
    const bool runProgram = config_.runProgram != 0 && !config_.programCmdLine.empty();
    const std::string command = config_.programCmdLine;
    auto frame = handle();
    closing_ = std::jthread([this, closeApps, runProgram, command, frame](std::stop_token stop) {
        auto run_and_wait = [&](const std::vector<std::string>& argv, bool onDesktop) {
            int pid = 0;
            {
                // Started under the lock, so that EndClosing either finds the child to stop
                // or finds the stop asked for before it: a child that slipped between the two
                // could hold a battery-low shutdown for as long as it liked.
                std::lock_guard lock(closingMutex_);
                if (stop.stop_requested()) return;
                auto started = onDesktop ? StartOnDesktop(argv) : StartProcess(argv);
                if (!started) return;
                pid = closingChild_ = *started;
            }
            // Reaped only once it is off the list, so that the id EndClosing may signal is
            // never another process's.
            AwaitExit(pid);
            {
                std::lock_guard lock(closingMutex_);
                closingChild_ = 0;
            }
            WaitProcess(pid);
        };
        if (closeApps) {
            auto program = FindOutsideProgram("Morkelnt");
            if (!program.empty()) run_and_wait({program.string(), kFrameTitle}, true);
        }
        if (runProgram) run_and_wait(SplitWords(command), false);
        if (!stop.stop_requested()) frame.Post(kWmShutDownNow);
    });
}

void CMainFrame::EndClosing() {
    if (!closing_.joinable()) return;
    closing_.request_stop();
    {
        std::lock_guard lock(closingMutex_);
        SignalStop(closingChild_);
    }
    // A program that ignores the request must not hold the shutdown: after a grace time it is
    // ended outright.
    const auto until = std::chrono::steady_clock::now() + kClosingGrace;
    for (;;) {
        {
            std::lock_guard lock(closingMutex_);
            if (closingChild_ == 0) break;
            if (std::chrono::steady_clock::now() >= until) {
                SignalStop(closingChild_, true);
                break;
            }
        }
        std::this_thread::sleep_for(50ms);
    }
    closing_.join();
}

void CMainFrame::BatteryLowShutdown() {
    EndClosing();
    // The page goes out before the machine goes down, but a modem that hangs must not keep it up
    // until the battery is flat.
    if (lastPage_) lastPage_->WaitFor(CPagerAlerts::kLongestPage);
    ShutDownNow(config_.turnUpsOff != 0, config_.shutdownWindows != 0);
}

void CMainFrame::ShutDownNow(bool turnUpsOff, bool shutdownSystem) {
    platform::Event* confirmed = nullptr;
    // Whether the UPS goes off or this system goes down, the machines that share the UPS must
    // follow: they are told first, so that they use the time of the UPS's confirmation.
    if (turnUpsOff || shutdownSystem) ForceSecondariesDown();
    if (turnUpsOff) {
        const std::int64_t now = Now();
        std::optional<std::int64_t> powerOn;
        ups::CScheduleDetail entry;
        if (std::int64_t next = schedule_.NextTime(ups::kSwitchOn, entry, now); next > 0) {
            powerOn = next;
        }
        // What the UPS last said, even when it has since fallen silent: a utility failure
        // must not be taken for a scheduled shutdown and keep the UPS off for days.
        int restore = RestoreMinutes(ups_->LastSaidACFail() || ups_->LastSaidBatteryLow(), powerOn,
                                     now, config_.upsOffDelay);
        char line[80];
        std::snprintf(line, sizeof line, "Shutdown delay:%d Secs restore:%d Mins\n",
                      config_.upsOffDelay, restore);
        ups::Trace(line);
        platform::Event& done = ups_->SetShutdown(config_.upsOffDelay, restore);
        if (ups_->ShutdownQueued()) confirmed = &done;
    }
    if (!shutdownSystem) return;
    if (confirmed != nullptr) confirmed->Wait(kUpsConfirmationLimit);
    WaitForSecondaries();
    TellWatchers(watch::EventKind::kSystemShutdown, "System shutdown");
    DropClients();
    shuttingDown_ = true;
    eventLog_->AddEvent(CEventLogRecord(ups::kEvSystemShutdown, CEventLogRecord::kInformation,
                                        static_cast<std::uint32_t>(Now())));
    auto program = FindOutsideProgram("Brenvik");
    if (program.empty()) {
        ups::Trace("Brenvik is missing: the system cannot be shut down\n");
        return;
    }
    if (auto pid = StartProcess({program.string()})) {
        std::thread([pid = *pid] { WaitProcess(pid); }).detach();
    }
}

void CMainFrame::SampleDataLog() {
    ups::UPSStatusValues s = ups_->Status();
    ups::CDataLogRecord record;
    record.inputVoltage = s.inputVoltage;
    record.outputVoltage = s.outputVoltage;
    record.load = s.load;
    record.batteryCapacity = s.batteryCapacity;
    record.temperature = s.temperature;
    record.inputFrequency = s.inputFrequency;
    record.time = static_cast<std::uint32_t>(Now());
    dataLog_->AddSample(record);
}

}  // namespace torvane
