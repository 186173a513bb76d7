#include "vornd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "child_process.h"
#include "console_msg.h"
#include "event_log.h"
#include "file_util.h"
#include "host.h"
#include "paths.h"
#include "q1_protocol.h"
#include "schedule_time.h"
#include "serial_port.h"
#include "snmp_access.h"
#include "snmp_ups.h"
#include "ups_commands.h"

namespace {

constexpr std::string_view kDaemonArgument = "            ";  // twelve blanks
constexpr std::size_t kShutdownCmdMax = 1024;

using SteadyClock = std::chrono::steady_clock;

// A retry that failed at once still takes the second the protocol allows for an answer: a dead
// line or a missing file must never make the daemon spin.
void PaceFrom(SteadyClock::time_point started) {
    std::this_thread::sleep_until(started + std::chrono::seconds(1));
}

void IgnoreSignal(int) {}

void WriteBusyFlag() {
    std::string path = kelvora::RootPath("busy");
    if (!kelvora::WriteSmallFile(path, "PortIdle"))
        std::printf("Can not open Busy Flag %s\n", path.c_str());
}

void InstallSignals() {
    // The daemon guards the machine's power: the usual termination signals do not end it, only
    // a stop request on the control queue does.
    struct sigaction sa {};
    sa.sa_handler = IgnoreSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaction(sig, &sa, nullptr);
    // Nor may a console that went away: a write to a closed pipe must fail, not kill us.
    signal(SIGPIPE, SIG_IGN);
    std::printf("Set Signal Complete\n");
}

bool IsBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

}  // namespace

int Vornd::Run(int argc, char** argv) {
    WriteBusyFlag();
    if (argc != 2 || argv[1] != kDaemonArgument) return 0;
    if (!TakeInstanceLock()) return 1;
    StartUp();
    for (;;) {
        if (!Initializers()) return 0;
        if (config_.comm_mode == 0) QueryModelAndRating();
        if (PollLoop() == LoopEnd::kStop) return 0;
        ClosePort();
    }
}

bool Vornd::TakeInstanceLock() {
    locked_at_ = static_cast<long long>(std::time(nullptr));
    switch (lock_.Acquire()) {
        case kelvora::LockResult::kHeld:
            return true;
        case kelvora::LockResult::kTaken:
            // A second daemon would empty the first one's queues and fight it for the port.
            std::printf("%s %s\n", "<Kelvora>", "is currently running!");
            return false;
        case kelvora::LockResult::kUnavailable:
            break;
    }
    // Protection comes first: without the lock the daemon still runs, it just cannot be sure it
    // is the only one.
    std::printf("Can not lock %s\n", kelvora::RootPath("vornd.lock").c_str());
    return true;
}

void Vornd::StartUp() {
    InstallSignals();
    std::fflush(stdout);
    SetHostName();
    if (!CheckLogFile()) PrintToConsole("Can not open VORN II log file!");
    // A crash in the middle of a configuration write leaves its temporary file behind.
    kelvora::RemoveStaleTemporaries(kelvora::RootPath("vorn.ini"));
    kelvora::RemoveStaleTemporaries(kelvora::RootPath("kelvora.cfg"));
    CreateQueuesAtStart();
    Heartbeat(kHeartbeatStart);
    Heartbeat(kHeartbeatStart);
    InitConfig(&config_, &schedule_);
    std::printf("Initial Config Complete\n");
    std::printf("<Kelvora>\n");
    std::fflush(stdout);
    PrintToConsole("Ver. 2.1");
    PrintToConsole("Start Running!");
}

void Vornd::CreateQueues() {
    Create4MsgQ(&queues_.status, &queues_.heartbeat, &queues_.control, &queues_.redraw);
    queues_.command = ClaimMsgQ(kCommandQueueId);
    if (queues_.command >= 0) ClearMsgQ(queues_.command);
}

void Vornd::CreateQueuesAtStart() {
    // Emptied, all but the control queue: we hold the lock already, so a `kelvora stop` given
    // while we start up is meant for us, and only root can have written to a queue of ours.
    // What was sent before we took the lock was meant for a daemon that was killed before it
    // read it (a service stop that timed out): obeyed now, it would end the protection the
    // moment it is started again.
    int control = ClaimMsgQ(kControlQueueId);
    const bool for_us = control >= 0 && LastSendTime(control) >= locked_at_;
    std::vector<std::string> waiting;
    for (std::string text; control >= 0 && ReceiveMsg(control, kMsgControl, text) == 1;) {
        if (for_us) waiting.push_back(text);
    }
    CreateQueues();
    for (const std::string& text : waiting) SendMsg(queues_.control, kMsgControl, text);
}

void Vornd::ReclaimQueues() {
    // Queues that are still ours keep what waits in them: a stop request on the control queue
    // or an issuer command must not be lost because someone removed the status queue.
    queues_.status = ClaimMsgQ(kStatusQueueId);
    queues_.heartbeat = ClaimMsgQ(kHeartbeatQueueId);
    queues_.control = ClaimMsgQ(kControlQueueId);
    queues_.redraw = ClaimMsgQ(kRedrawQueueId);
    queues_.command = ClaimMsgQ(kCommandQueueId);
}

void Vornd::RemoveQueues() {
    for (int q :
         {queues_.status, queues_.heartbeat, queues_.control, queues_.redraw, queues_.command}) {
        if (q >= 0) DestroyMsgQ(q);
    }
    queues_ = {};
}

void Vornd::Heartbeat(std::string_view text) {
    SendToMsgQ(queues_.heartbeat, kMsgHeartbeat, text);
}

void Vornd::ProcStop() {
    RemoveQueues();
    ClosePort();
    PrintToConsole("Daemon Process Stops!");
}

void Vornd::CloseSerial() {
    // Decided by what was opened, not by the mode in force: a configuration read meanwhile may
    // have switched it.
    if (port_open_ && ups_ >= 0) ::close(ups_);
    port_open_ = false;
}

void Vornd::ClosePort() {
    CloseSerial();
    UPS_close();
    ups_ = -1;
}

void Vornd::BlankStatusFiles() {
    status_file_.EnsureOpen();
    status_file_.Write({});
    BlankInfoFiles();
}

void Vornd::HandOverAgent() {
    if (config_.comm_mode == 1) upsconf_load(config_.agent_ip, config_.community);
}

int Vornd::DoRdWrtConfig() {
    if (ReadConfig(&config_, &schedule_) == 1) {
        config_unsaved_ = false;
        HandOverAgent();
        return 1;
    }
    // One of the files is missing and both are written anew. An administrator's hand-written
    // kelvora.cfg must not be overwritten by defaults just because vorn.ini is not there yet.
    ApplyCfgFile(&config_);
    // Whatever could be read is what the daemon monitors with, agent included.
    HandOverAgent();
    if (WriteConfig(&config_, &schedule_) != 1) {
        // A full disk must not suspend monitoring: the daemon goes on with what it could read
        // (or the defaults) and tries the write again on every cycle.
        config_unsaved_ = true;
        PrintToConsole(kMsgConfigError);
        return -1;
    }
    config_unsaved_ = false;
    return 1;
}

bool Vornd::RetryConfigWrite() {
    auto before = EncodeIni(config_, schedule_);
    // The files may have been written meanwhile by the console; then what they say counts, and
    // a change is taken up by reconnecting, as after a reload request.
    return DoRdWrtConfig() == 1 && EncodeIni(config_, schedule_) != before;
}

int Vornd::GetShutdownCmd() {
    std::string text;
    std::string command;
    // The whole first line is the command: running a cut-off command at the moment of a power
    // failure could do anything. A line too long to be a command is refused.
    if (kelvora::ReadFilePrefix(kelvora::RootPath("shutdown.ini"), kShutdownCmdMax + 1, text)) {
        std::size_t eol = text.find('\n');
        if (eol != std::string::npos) text.resize(eol + 1);
        if (text.size() <= kShutdownCmdMax) {
            // NUL bytes (a file zeroed by a crash) are no part of any shell command, and a line
            // with nothing left to run would let the daemon believe it shut the system down.
            std::erase(text, '\0');
            if (!IsBlank(text)) command = text;
        }
    }
    if (command.empty()) {
        // The command read before, if any, is kept: a deadline that passes while the file is
        // being edited must still shut the system down.
        PrintToConsole(kMsgNoShutdownFile);
        return 0;
    }
    shutdown_cmd_ = command;
    return 1;
}

int Vornd::TryPort(const char* path, bool is_fallback) {
    int fd = A_UPSsureInit(path);
    if (fd >= 0 && is_fallback) {
        // The UPS answered on a standard port: remember it there.
        SetConfigText(config_.comport, path);
        WriteConfig(&config_, &schedule_);
    }
    return fd;
}

void Vornd::KeepQueuesAndLock() {
    // Queues we lost (to a user who won a race, or removed by hand) are claimed again, so that
    // the daemon stays stoppable and its commands keep arriving. A removed queue leaves an id
    // that only errors tell from an empty queue.
    auto lost = [](int q) { return q < 0 || MsgNumber(q) < 0; };
    if (lost(queues_.control) || lost(queues_.command) || queues_.status < 0 ||
        queues_.heartbeat < 0 || queues_.redraw < 0) {
        ReclaimQueues();
    }
    if (lock_.Keep() == kelvora::LockResult::kTaken) {
        PrintToConsole("Another daemon holds the lock of this root!");
    }
}

bool Vornd::StillWaiting() {
    if (events_.shut_down()) return false;  // its queues are gone for good
    KeepQueuesAndLock();
    // Wherever the daemon waits for the UPS, a deadline it set still acts: a link that died in
    // the middle of a countdown ends in the shutdown all the same.
    events_.SetContext(ShutdownContextNow());
    machine_.WhileSilent();
    return !events_.shut_down();
}

int Vornd::InitUPS() {
    if (config_.comm_mode != 0) {
        // A silent agent keeps UPS_init waiting for the library's time-out: a deadline that
        // passed meanwhile is not held up by it.
        if (!StillWaiting()) return -1;
        if (UPS_init() == 1) return 1;
        Heartbeat(kHeartbeatAlive);
        PrintToConsole(kMsgSnmpNoSession);
        return -1;
    }
    for (int round = 0; round < 3; ++round) {
        Heartbeat(kHeartbeatAlive);
        if (!StillWaiting()) return -1;
        if (int fd = TryPort(config_.comport, false); fd >= 0) return fd;
        // The configured port is silent: the console must not show its last reading for the
        // minute the remaining attempts may take.
        BlankStatusFiles();
        for (const char* fallback : {"/dev/ttyS1", "/dev/ttyS2"}) {
            Heartbeat(kHeartbeatAlive);
            if (!StillWaiting()) return -1;
            if (std::strcmp(config_.comport, fallback) == 0) continue;
            if (int fd = TryPort(fallback, true); fd >= 0) return fd;
        }
    }
    sleep(1);
    PrintToConsole(kMsgNoResponse);
    return -1;
}

bool Vornd::DebugEcho() {
    if (!debug_switch_) return false;
    char word[16] = {};
    std::rewind(debug_switch_.get());
    return std::fscanf(debug_switch_.get(), "%15s", word) == 1 && std::strcmp(word, "debug") == 0;
}

int Vornd::GetUPSStatus(std::string& reply) {
    if (config_.comm_mode != 0) return GetSnmpStatus(reply);
    int r = -1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto started = SteadyClock::now();
        r = A_GetUPSStatus(ups_, reply);
        status_file_.Write(reply);
        if (reply.empty()) BlankInfoFiles();
        if (DebugEcho()) {
            std::printf("<VORND DEBUG> %s\n", reply.c_str());
            std::fflush(stdout);
        }
        if (r == 1) return 1;
        PaceFrom(started);
        if (r == kLinkLost) break;  // no use asking a line that is gone twice more
    }
    PrintToConsole(kMsgNoResponse);
    return r == kLinkLost ? kLinkLost : -1;
}

int Vornd::GetSnmpStatus(std::string& reply) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            // Each silent attempt costs the library's time-out of several seconds: the
            // console must go on seeing a live daemon, and a deadline must act in between.
            Heartbeat(kHeartbeatAlive);
            if (!StillWaiting()) return -1;
        }
        const auto started = SteadyClock::now();
        int r = S_GetStatus(reply);
        PaceFrom(started);  // an agent that answers at once is still asked once a second
        if (r == 1) return 1;
    }
    reply.clear();
    PrintToConsole(kMsgSnmpNoData);
    return -1;
}

bool Vornd::Initializers() {
    for (std::string& slot : block_) slot.clear();
    // Monitoring never waits for the configuration files: when they can be neither read nor
    // written, the daemon polls with what it has and retries the write.
    DoRdWrtConfig();
    bool cmd_ok = GetShutdownCmd() == 1;
    bool failed_before = false;
    for (;;) {
        const auto round_started = SteadyClock::now();
        Heartbeat(kHeartbeatAlive);
        int ctrl = ReadCtrlMsg(queues_.control);
        if (ctrl == kCtrlStop) {
            ProcStop();
            return false;
        }
        if (ctrl == kCtrlReload || config_unsaved_) DoRdWrtConfig();
        if (!cmd_ok) cmd_ok = GetShutdownCmd() == 1;
        if (int handle = InitUPS(); handle != -1) {
            // A port opened in an earlier round is replaced, not leaked (a new SNMP session
            // has replaced the old one already).
            if (ups_ != handle) CloseSerial();
            ups_ = handle;
            port_open_ = config_.comm_mode == 0;
        } else if (config_.comm_mode != 0) {
            ClosePort();  // no session stands behind an earlier handle now
        }
        if (!StillWaiting()) return false;
        Heartbeat(kHeartbeatAlive);
        if (cmd_ok && ups_ != -1) {
            status_file_.EnsureOpen();
            int r = GetUPSStatus(block_[0]);
            if (r == 1) {
                if (failed_before || !connected_) PrintToConsole(kMsgReconnected);
                connected_ = true;
                return true;
            }
            if (r == kLinkLost) ClosePort();
        }
        failed_before = true;
        // Nothing answers: the console must not go on showing the last good reading.
        BlankStatusFiles();
        if (!StillWaiting()) return false;
        PaceFrom(round_started);
    }
}

void Vornd::QueryModelAndRating() {
    A_GetUPSModel(ups_, block_[1]);
    A_GetUPSRating(ups_, block_[2]);
}

Vornd::LoopEnd Vornd::PollLoop() {
    for (;;) {
        // The state machine does not need the status file: monitoring goes on without it.
        if (!status_file_.EnsureOpen()) PrintToConsole(kMsgStatusFileError);
        if (!debug_switch_ && --debug_retry_in_ <= 0) {
            // Looking for a file that is not there costs a path walk; once in ten polls is
            // soon enough for a debugging aid.
            debug_switch_ =
                kelvora::OpenRegularStream(kelvora::RootPath("vornd.dbg"), O_RDONLY, "r");
            debug_retry_in_ = 10;
        }
        if (config_unsaved_ && RetryConfigWrite()) return LoopEnd::kReconnect;
        CalcSchdlTime(&schedule_, &next_shutdown_, &restart_minutes_, &schedule_day_,
                      &schedule_day_, config_.turnoff_delay);
        Heartbeat(kHeartbeatAlive);
        Heartbeat(kHeartbeatAlive);
        if (--keep_check_in_ <= 0) {
            // Queues and a lock file removed by hand are rare: looking every ten polls finds
            // them within seconds and keeps the cost of a poll down.
            KeepQueuesAndLock();
            keep_check_in_ = 10;
        }
        int ctrl = ReadCtrlMsg(queues_.control);
        if (ctrl == kCtrlReload) return LoopEnd::kReconnect;
        if (ctrl == kCtrlStop) {
            ProcStop();
            status_file_.Write({});
            BlankInfoFiles();
            debug_switch_.reset();
            return LoopEnd::kStop;
        }
        if (config_.comm_mode == 0) DoIssCmnds();
        int polled = GetUPSStatus(block_[0]);
        if (config_.comm_mode == 0 && SendMessages(queues_.status, block_) < 0) {
            // Someone removed our queues; put them back so that consoles can see us again.
            ReclaimQueues();
        }
        ReapChildren();  // e-mail and pager scripts of earlier events
        if (polled == 1 && connected_) {
            events_.SetContext(ShutdownContextNow());
            machine_.StateTransition(block_[0], config_, next_shutdown_);
        } else if (polled != 1) {
            // The state machine holds while the UPS is silent, but not past a deadline it set.
            connected_ = false;
            if (!StillWaiting()) return LoopEnd::kStop;
            if (polled == kLinkLost) return LoopEnd::kReconnect;  // reopen what died
        } else {
            connected_ = true;
            PrintToConsole(kMsgReconnected);
            return LoopEnd::kReconnect;
        }
        if (events_.shut_down()) return LoopEnd::kStop;
    }
}

ShutdownContext Vornd::ShutdownContextNow() {
    return {&config_, restart_minutes_, shutdown_cmd_,
            ups_,     queues_.redraw,   [this] { ProcStop(); }};
}

void Vornd::DoIssCmnds() {
    std::string text;
    if (ReceiveMsg(queues_.command, kMsgCommand, text) != 1) return;
    IssuerCommand cmd = DecodeIssuerCmd(text);
    switch (cmd.letter) {
        case kIssueTenSecondTest:
            PrintToConsole("Ten Seconds Self Test");
            A_UPSSelfTest(ups_);
            break;
        case kIssueTestUntilLow:
            PrintToConsole("Test Until Battery Low");
            A_UPSTest(ups_, 0);
            break;
        case kIssueTimedTest:
            PrintToConsole("Test for a Specified Time Period");
            A_UPSTest(ups_, cmd.minutes);
            break;
        case kIssueShutdownNow:
            PrintToConsole("UPS Shutting Down NOW!");
            A_ShutdownUPS(ups_, 0.2f, 0, -1);
            break;
        case kIssueCancelShutdown:
            PrintToConsole("Cancel the Shutdown Command");
            A_CancelShutdown(ups_);
            break;
        case kIssueCancelTest:
            PrintToConsole("Cancel all test activity and connect utility to output immediately");
            A_CancelUPSTest(ups_);
            break;
        default:
            break;  // no command, or a timed test without its two digits
    }
}
