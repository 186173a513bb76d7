// The local display: the UPS that this machine's daemon watches, redrawn every pass from the
// files the daemon rewrites after every poll.
#include <curses.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "msgq.h"
#include "paths.h"
#include "screen.h"
#include "snmp_access.h"
#include "status_screen.h"
#include "status_source.h"

namespace {

// A configuration change reaches a running screen at once through the redraw queue; any other
// change of the files within this many passes.
constexpr int kReconfigPasses = 12;
// Passes without a status file after which the console's queues are opened afresh.
constexpr int kMaxFailures = 10;

void DrawPass(LocalDisplay& d, int key, int daemon_present) {
    if (d.mode_in_force == 1) {
        SNMP_actions(key, d.snmp, d.data, d.config, daemon_present);
        return;
    }
    GetData(d.data, d.failures);
    if (d.failures > kMaxFailures) {
        d.failures = 0;
        d.queues = OpenConsoleQueues();
    }
    DrawScreen(d.data, d.shutdown_flag, VorndPresent() == 1, d.draw);
}

std::string AgentIp(const UpsConfig& c) {
    return std::string(c.agent_ip, strnlen(c.agent_ip, sizeof c.agent_ip));
}

std::string Community(const UpsConfig& c) {
    return std::string(c.community, strnlen(c.community, sizeof c.community));
}

}  // namespace

ConsoleQueues ReopenConsoleQueues() {
    ConsoleQueues q;
    q.status = CreateMsgQ(kStatusQueueId);
    q.heartbeat = CreateMsgQ(kHeartbeatQueueId);
    q.control = CreateMsgQ(kControlQueueId);
    q.redraw = CreateMsgQ(kRedrawQueueId);
    return q;
}

ConsoleQueues OpenConsoleQueues() {
    ConsoleQueues q = ReopenConsoleQueues();
    for (int id : {q.status, q.heartbeat, q.redraw}) {
        if (id >= 0) ClearMsgQ(id);
    }
    return q;
}

bool ConsoleQueuesAlive(const ConsoleQueues& q) {
    // A queue id dies with its queue: the daemon removes its queues when it stops and replaces
    // any that another user created. What waits on the new queue is not emptied: it may be the
    // configuration change the screen is there to show.
    return q.redraw >= 0 && MsgNumber(q.redraw) >= 0;
}

void ReConfig(LocalDisplay& d) {
    d.shutdown_flag = 0;
    UpsConfig config = d.config;
    WeekSchedule schedule = d.schedule;
    if (ReadConfig(&config, &schedule) != 1) return;
    d.config = config;
    d.schedule = schedule;
    GetFromConfig(d.data, d.config, d.schedule, d.shutdown_flag);
    if (d.config.comm_mode == 1) {
        // A changed agent, or one that never answered: open the link afresh. Switching from
        // the serial mode lands here too, since that closed the link.
        SnmpView& v = d.snmp;
        if (!v.link_up || v.agent_ip != AgentIp(d.config) || v.community != Community(d.config)) {
            SnmpReconnect(v, d.config);
        }
    }
    if (d.config.comm_mode == d.mode_in_force) return;
    if (d.config.comm_mode == 1) {
        d.snmp.page = 1;
        d.snmp.full_redraw = true;
    } else {
        PutBlanks(layout::st_model.row, layout::st_model.col, 38);
        // The serial mode reads no agent; a later switch back opens a new link.
        if (d.snmp.link_up) UPS_close();
        d.snmp.link_up = false;
    }
    d.mode_in_force = d.config.comm_mode;
    BlankScreen();
}

void vornii_status_local(int daemon_present) {
    // Nothing the access layer or the library says may land on the curses screen.
    UPS_report_to(nullptr);
    SystemText();
    LocalDisplay d;
    InitConfig(&d.config, &d.schedule);
    if (ReadConfig(&d.config, &d.schedule) != 1) {
        // Said on the plain terminal: on the curses screen it would vanish as the screen ends.
        EndScreen();
        std::printf("%s not found!\n", kelvora::RootPath("vorn.ini").c_str());
        return;
    }
    GetFromConfig(d.data, d.config, d.schedule, d.shutdown_flag);
    d.mode_in_force = d.config.comm_mode;
    if (d.mode_in_force == 1) SnmpReconnect(d.snmp, d.config);

    d.queues = OpenConsoleQueues();
    InitScreen();
    wclear(stdscr);

    int key = -1;
    while (key != 'q') {
        DrawPass(d, key, daemon_present);
        wrefresh(stdscr);
        key = GetCH();

        if (!ConsoleQueuesAlive(d.queues)) d.queues = ReopenConsoleQueues();
        int ctrl = ReadCtrlMsg(d.queues.redraw);
        if (ctrl == kCtrlReload) {
            ReConfig(d);
            d.snmp.full_redraw = true;
        } else if (ctrl == kCtrlRedraw) {
            wclear(stdscr);
            d.snmp.full_redraw = true;
        }
        d.passes = (d.passes + 1) % kReconfigPasses;
        if (d.passes == 0) ReConfig(d);
        if (key == 'r') {
            wclear(stdscr);
            d.snmp.full_redraw = true;
            d.snmp.page2_request = true;
        }
    }
    if (d.snmp.link_up) UPS_close();
    EndScreen();
}
