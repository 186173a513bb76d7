// `kelvora status`: the entry menu, the local display and the SNMP displays' entry points.
#pragma once

#include <functional>
#include <string>

#include "config.h"
#include "screen_data.h"
#include "snmp_draw.h"
#include "status_draw.h"

// The sub-command: the entry menu; returns when the user leaves.
void vornii_status();

// The local display loop; `daemon_present` is VorndPresent() taken when the menu was confirmed.
void vornii_status_local(int daemon_present);

// A UPS reached through an SNMP agent at `address` with `community`; returns on 'q'.
void vornii_status_remote(const std::string& address, const std::string& community);

// The page and redraw requests of the SNMP displays and what they remember of the previous
// pass, kept by the display loop across passes.
struct SnmpView {
    int page = 1;
    bool full_redraw = true;
    bool page2_request = false;
    bool link_up = false;
    bool first_call = true;
    bool was_connected = false;       // the previous pass had the agent's data
    bool daemon_was_present = false;  // the previous local pass saw the daemon
    std::string agent_ip;             // what the link was opened with, for ReConfig
    std::string community;
    SnmpDrawState draw;
};

// What a pass of an SNMP display needs from outside: the agent, the daemon's presence and the
// pause after a drawn main page. The displays use the real ones; tests hand in their own.
struct SnmpPorts {
    std::function<int()> init;  // 1 when the agent answers, as UPS_init
    SnmpRead read;
    std::function<int()> daemon_present;  // as VorndPresent
    std::function<void()> pause;
};
const SnmpPorts& LiveSnmpPorts();

// 1 when the agent gives the line voltage, else 0.
int ConnectionStatus(const SnmpRead& read);
int ConnectionStatus();

// Loads the configuration's agent address and community and opens the link afresh.
void SnmpReconnect(SnmpView& view, const UpsConfig& config);

// One pass of the local display in SNMP mode.
void SNMP_actions(int key, SnmpView& view, ScreenData& data, const UpsConfig& config,
                  int daemon_present, const SnmpPorts& ports = LiveSnmpPorts());
// One pass of the remote display.
void RemoteSnmpPass(int key, SnmpView& view, ScreenData& data, const std::string& address,
                    const std::string& community, const SnmpPorts& ports = LiveSnmpPorts());
// The agent's address and community on the left pane, and never a shutdown banner: this
// machine's schedule is not that UPS's business.
void RemoteSNMPLeftText(const std::string& address, const std::string& community);

// The console's ends of the four queues the local display uses.
struct ConsoleQueues {
    int status = -1;
    int heartbeat = -1;
    int control = -1;
    int redraw = -1;
};
// Opens (creating if need be) the four queues and empties those that carry messages to the
// console. The control queue is left alone: what waits there is meant for the daemon.
ConsoleQueues OpenConsoleQueues();
// The same without emptying anything: for ids that died with their queues.
ConsoleQueues ReopenConsoleQueues();
// False once the queues the ids name are gone (removed, or replaced under the same keys).
bool ConsoleQueuesAlive(const ConsoleQueues& queues);

// What the local display keeps across passes.
struct LocalDisplay {
    ScreenData data;
    UpsConfig config{};
    WeekSchedule schedule{};
    int mode_in_force = 0;
    int shutdown_flag = 0;
    int failures = 0;
    int passes = 0;
    DrawState draw;
    SnmpView snmp;
    ConsoleQueues queues;
};

// Re-reads the configuration (keeping the old values when that fails) and applies a change of
// communication mode.
void ReConfig(LocalDisplay& display);
