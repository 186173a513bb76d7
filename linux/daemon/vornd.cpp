#include "vornd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "child_process.h"
#include "console_msg.h"
#include "event_log.h"
#include "file_util.h"
#include "host.h"
#include "paths.h"
#include "schedule_time.h"
#include "serial_port.h"
#include "ups_commands.h"

namespace {

constexpr std::string_view kDaemonArgument = "            ";  // twelve blanks
constexpr std::string_view kNoResponse =
    "UPS Adapter No Response!!, type [kelvora stop] to stop this process";
constexpr std::size_t kShutdownCmdMax = 1024;

void IgnoreSignal(int) {}

void WriteBusyFlag() {
    std::string path = kelvora::RootPath("busy");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::printf("Can not open Busy Flag %s\n", path.c_str());
        return;
    }
    kelvora::WriteAll(fd, "PortIdle");
    ::close(fd);
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
    for (char c : s) {
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace

int Vornd::Run(int argc, char** argv) {
    WriteBusyFlag();
    if (argc != 2 || argv[1] != kDaemonArgument) return 0;
    StartUp();
    for (;;) {
        if (!Initializers()) return 0;
        if (config_.comm_mode == 0) QueryModelAndRating();
        if (PollLoop() == LoopEnd::kStop) return 0;
        ClosePort();
    }
}

void Vornd::StartUp() {
    InstallSignals();
    std::fflush(stdout);
    SetHostName();
    if (!CheckLogFile()) PrintToConsole("Can not open VORN II log file!");
    CreateQueues();
    Heartbeat("abc");
    Heartbeat("abc");
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

void Vornd::RemoveQueues() {
    Destroy4MsgQ(queues_.status, queues_.heartbeat, queues_.control, queues_.redraw);
    DestroyMsgQ(queues_.command);
}

void Vornd::Heartbeat(std::string_view text) { SendToMsgQ(queues_.heartbeat, kMsgHeartbeat, text); }

void Vornd::ProcStop() {
    RemoveQueues();
    ClosePort();
    PrintToConsole("Daemon Process Stops!");
}

void Vornd::ClosePort() {
    if (config_.comm_mode == 0 && ups_ >= 0) ::close(ups_);
    ups_ = -1;
}

int Vornd::DoRdWrtConfig() {
    if (ReadConfig(&config_, &schedule_) == 1) return 1;
    // One of the files is missing and both are written anew. An administrator's hand-written
    // kelvora.cfg must not be overwritten by defaults just because vorn.ini is not there yet.
    ApplyCfgFile(&config_);
    if (WriteConfig(&config_, &schedule_) != 1) {
        PrintToConsole("Configuration Error!");
        return -1;
    }
    return 1;
}

int Vornd::GetShutdownCmd() {
    std::string text;
    shutdown_cmd_.clear();
    // The whole first line is the command: running a cut-off command at the moment of a power
    // failure could do anything. A line too long to be a command is refused.
    if (kelvora::ReadFilePrefix(kelvora::RootPath("shutdown.ini"), kShutdownCmdMax + 1, text)) {
        std::size_t eol = text.find('\n');
        if (eol != std::string::npos) text.resize(eol + 1);
        // A line with nothing to run would let the daemon believe it shut the system down.
        if (text.size() <= kShutdownCmdMax && !IsBlank(text)) shutdown_cmd_ = text;
    }
    if (shutdown_cmd_.empty()) {
        PrintToConsole("Shutdown file empty or not found!");
        return 0;
    }
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

int Vornd::InitUPS() {
    if (config_.comm_mode != 0) {
        // No SNMP session can be made in this build; say so and keep retrying like any other
        // connection failure.
        Heartbeat("axy");
        PrintToConsole("Cannot Initialize the SNMP Session!!");
        return -1;
    }
    for (int round = 0; round < 3; ++round) {
        Heartbeat("axy");
        if (int fd = TryPort(config_.comport, false); fd >= 0) return fd;
        for (const char* fallback : {"/dev/ttyS1", "/dev/ttyS2"}) {
            Heartbeat("axy");
            if (std::strcmp(config_.comport, fallback) == 0) continue;
            if (int fd = TryPort(fallback, true); fd >= 0) return fd;
        }
    }
    sleep(1);
    PrintToConsole(kNoResponse);
    return -1;
}

bool Vornd::DebugEcho() {
    if (!debug_switch_) return false;
    char word[16] = {};
    std::rewind(debug_switch_.get());
    return std::fscanf(debug_switch_.get(), "%15s", word) == 1 && std::strcmp(word, "debug") == 0;
}

int Vornd::GetUPSStatus(std::string& reply) {
    if (config_.comm_mode != 0) {
        PrintToConsole("SNMP Agent unable to get data from the UPS");
        return -1;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        int r = A_GetUPSStatus(ups_, reply);
        status_file_.Write(reply);
        if (reply.empty()) BlankInfoFiles();
        if (DebugEcho()) {
            std::printf("<VORND DEBUG> %s\n", reply.c_str());
            std::fflush(stdout);
        }
        if (r == 1) return 1;
    }
    PrintToConsole(kNoResponse);
    return -1;
}

bool Vornd::Initializers() {
    for (std::string& slot : block_) slot.clear();
    bool cfg_ok = DoRdWrtConfig() == 1;
    bool cmd_ok = GetShutdownCmd() == 1;
    bool failed_before = false;
    for (;;) {
        Heartbeat("axy");
        int ctrl = ReadCtrlMsg(queues_.control);
        if (ctrl == kCtrlReload) cfg_ok = DoRdWrtConfig() != -1;
        if (ctrl == kCtrlStop) {
            ProcStop();
            return false;
        }
        if (!cfg_ok) cfg_ok = DoRdWrtConfig() == 1;
        if (!cmd_ok) cmd_ok = GetShutdownCmd() == 1;
        if (int handle = InitUPS(); handle != -1) {
            // A port opened in an earlier round is replaced, not leaked.
            if (ups_ >= 0 && ups_ != handle && config_.comm_mode == 0) ::close(ups_);
            ups_ = handle;
        }
        Heartbeat("axy");
        if (cfg_ok && cmd_ok && ups_ != -1 && status_file_.EnsureOpen() &&
            GetUPSStatus(block_[0]) == 1) {
            if (failed_before) PrintToConsole("UPS Reconnected!!");
            return true;
        }
        failed_before = true;
    }
}

void Vornd::QueryModelAndRating() {
    A_GetUPSModel(ups_, block_[1]);
    A_GetUPSRating(ups_, block_[2]);
}

Vornd::LoopEnd Vornd::PollLoop() {
    for (;;) {
        status_file_.EnsureOpen();
        if (!debug_switch_ && --debug_retry_in_ <= 0) {
            // Looking for a file that is not there costs a path walk; once in ten polls is
            // soon enough for a debugging aid.
            debug_switch_.reset(std::fopen(kelvora::RootPath("vornd.dbg").c_str(), "re"));
            debug_retry_in_ = 10;
        }
        CalcSchdlTime(&schedule_, &next_shutdown_, &restart_minutes_, &schedule_day_, &schedule_day_,
                      config_.turnoff_delay);
        Heartbeat("axy");
        Heartbeat("axy");
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
            CreateQueues();
        }
        ReapChildren();  // e-mail and pager scripts of earlier events
        if (polled == 1 && connected_) {
            events_.SetContext(ShutdownContextNow());
            machine_.StateTransition(block_[0], config_, next_shutdown_);
        } else if (polled != 1) {
            // The state machine holds while the UPS is silent, but not past a deadline it set.
            connected_ = false;
            events_.SetContext(ShutdownContextNow());
            machine_.WhileSilent();
        } else {
            connected_ = true;
            PrintToConsole("UPS Reconnected!!");
            return LoopEnd::kReconnect;
        }
        if (events_.shut_down()) return LoopEnd::kStop;
    }
}

ShutdownContext Vornd::ShutdownContextNow() {
    return {&config_, restart_minutes_, shutdown_cmd_, ups_, queues_.redraw, [this] { ProcStop(); }};
}

void Vornd::DoIssCmnds() {
    std::string cmd;
    if (ReceiveMsg(queues_.command, kMsgCommand, cmd) != 1) return;
    switch (cmd[0]) {
        case 'a':
            PrintToConsole("Ten Seconds Self Test");
            A_UPSSelfTest(ups_);
            break;
        case 'b':
            PrintToConsole("Test Until Battery Low");
            A_UPSTest(ups_, 0);
            break;
        case 'c': {
            // Two decimal digits give the minutes. Anything else is refused rather than read as
            // 0, which would start a test that runs the battery flat.
            if (cmd.size() < 3 || !std::isdigit(static_cast<unsigned char>(cmd[1])) ||
                !std::isdigit(static_cast<unsigned char>(cmd[2]))) {
                break;
            }
            PrintToConsole("Test for a Specified Time Period");
            A_UPSTest(ups_, (cmd[1] - '0') * 10 + (cmd[2] - '0'));
            break;
        }
        case 'd':
            PrintToConsole("UPS Shutting Down NOW!");
            A_ShutdownUPS(ups_, 0.2f, 0, -1);
            break;
        case 'e':
            PrintToConsole("Cancel the Shutdown Command");
            A_CancelShutdown(ups_);
            break;
        case 'f':
            PrintToConsole("Cancel all test activity and connect utility to output immediately");
            A_CancelUPSTest(ups_);
            break;
        default:
            break;
    }
}
