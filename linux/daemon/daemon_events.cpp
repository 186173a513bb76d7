#include "daemon_events.h"

#include <unistd.h>

#include <cctype>
#include <ctime>

#include "broadcast.h"
#include "child_process.h"
#include "console_msg.h"
#include "file_util.h"
#include "host.h"
#include "msgq.h"
#include "paths.h"
#include "serial_port.h"
#include "snmp_ups.h"
#include "unique_fd.h"
#include "ups_commands.h"

namespace {

constexpr std::size_t kPreShutFileMax = 64 * 1024;

void LaunchScript(const char* name, char code, const char* fail_text) {
    std::string path = kelvora::RootPath(name);
    SpawnDetached(path, {path, std::string(1, code)}, fail_text);
}

// The UPS is told to switch off even when the deadline passed while its link was down (the
// daemon was reconnecting, the cable was pulled): it may still be listening, and if the port
// is gone the system shutdown goes on all the same.
void SwitchUpsOff(const UpsConfig& config, int handle, int32_t restart_minutes, bool scheduled) {
    kelvora::UniqueFd reopened;
    if (handle < 0) {
        reopened.Reset(A_UPSOpenPort(config.comport));
        handle = reopened.get();
    }
    if (handle >= 0)
        A_ShutdownUPS(handle, config.turnoff_delay, restart_minutes, scheduled ? 1 : 0);
}

}  // namespace

void DaemonEvents::OpenLog() {
    log_ = OpenLogFile();
}  // a log still open is closed first

void DaemonEvents::CloseLog() {
    log_.reset();
}

void DaemonEvents::Warn(std::string_view text, bool to_log) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    WarnTerminals(kelvora::UtmpPath(), HostName(), text, now);
    // The log, the daemon's output and the console's redraw do not depend on the login records
    // being readable: an event must never go unrecorded.
    std::string line = LogLine(text, now);
    if (to_log && log_) {
        std::fputs(line.c_str(), log_.get());
        std::fflush(log_.get());
    }
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    if (context_.redraw_queue >= 0) SendMsg(context_.redraw_queue, kMsgControl, kCtrlTextRedraw);
}

void DaemonEvents::Report(std::string_view text) {
    PrintToConsole(text);
}

void DaemonEvents::Notify(char code) {
    LaunchScript("email", code, "Error! Email function fails!");
    LaunchScript("pager", code, "Error! Pager function fails!");
}

void DaemonEvents::PreShut() {
    std::string text;
    if (!kelvora::ReadFilePrefix(kelvora::RootPath("preshut.bat"), kPreShutFileMax, text)) return;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string_view line(text.data() + pos, eol - pos);
        pos = eol + 1;
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) {
            line.remove_prefix(1);
        }
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') continue;
        PrintToConsole(line);
        RunShell(std::string(line), kPreShutLimit);
    }
}

void DaemonEvents::ShutDownNow(bool scheduled) {
    PreShut();
    Warn("Preshut processes all done!", true);
    CloseLog();
    const UpsConfig& config = *context_.config;
    if (config.turnoff_ups == 1 && config.comm_mode == 0) {
        SwitchUpsOff(config, context_.ups_handle, context_.restart_minutes, scheduled);
    } else if (config.turnoff_ups == 1 && config.comm_mode == 1) {
        // A session is opened anew if the agent was lost: it may be listening again.
        UPS_shutdown(config.turnoff_delay, context_.restart_minutes, scheduled ? 1 : 0);
    }
    sleep(2);
    if (context_.stop_daemon) context_.stop_daemon();
    context_.redraw_queue = -1;  // gone with the others
    Warn("System Shutdown NOW! " + context_.shutdown_cmd, false);
    RunShell(context_.shutdown_cmd, std::chrono::seconds(0));
    shut_down_ = true;
}
