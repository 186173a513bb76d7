// The status screen's displays of a UPS behind an SNMP agent: the local UPS when the daemon
// reaches it through an agent, and a remote UPS whose agent the user named in the menu. Both
// read the agent themselves; while it gives nothing they show the no-data screen and try it
// again every pass.
#include <curses.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "msgq.h"
#include "screen.h"
#include "screen_layout.h"
#include "snmp_access.h"
#include "snmp_layout.h"
#include "status_screen.h"
#include "text_util.h"

namespace {

// The pause after a drawn main page: the agent is asked no more often than this.
constexpr unsigned kPassSeconds = 3;

std::string Field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

// The address and community a display is showing. The menu takes up to 19 characters, which
// reach over the inner border; a longer one (a hand-edited configuration) stops before the
// right pane's texts.
void PutAgentSettings(std::string_view address, std::string_view community) {
    constexpr int kBlanks = layout::kLeftPaneEnd - layout::kSnmpAddress.col;
    constexpr std::size_t kShown = layout::kRightPaneStart - layout::kSnmpAddress.col;
    PutBlanks(layout::kSnmpAddress.row, layout::kSnmpAddress.col, kBlanks);
    PutBlanks(layout::kSnmpCommunity.row, layout::kSnmpCommunity.col, kBlanks);
    PutText(layout::kSnmpAddress.row, layout::kSnmpAddress.col,
            Printable(address.substr(0, std::min(address.size(), kShown))));
    PutText(layout::kSnmpCommunity.row, layout::kSnmpCommunity.col,
            Printable(community.substr(0, std::min(community.size(), kShown))));
}

void CursorAway() {
    wmove(stdscr, layout::kRows - 1, layout::kCols - 1);
}

void MainPage(SnmpView& view, ScreenData& data, const SnmpPorts& ports) {
    PutRightAligned(layout::sb_label.row, layout::st_clock_right, layout::kSnmpRemoteHint);
    DrawSnmpLeft(data, view.full_redraw, view.draw, ports.read);
    DrawSnmpRight(data, ports.read);
    ports.pause();
}

void NoData(SnmpView& view, const ScreenData& data) {
    view.page = 1;
    BlankScreen();
    SNMPnoDATA(data);
}

}  // namespace

const SnmpPorts& LiveSnmpPorts() {
    static const SnmpPorts ports{
        .init = [] { return UPS_init(); },
        .read = AgentRead,
        .daemon_present = [] { return VorndPresent(); },
        .pause = [] { sleep(kPassSeconds); },
    };
    return ports;
}

int ConnectionStatus(const SnmpRead& read) {
    return read(snmp::kLineVoltage) ? 1 : 0;
}

int ConnectionStatus() {
    return ConnectionStatus(AgentRead);
}

void SnmpReconnect(SnmpView& view, const UpsConfig& config) {
    view.agent_ip = Field(config.agent_ip, sizeof config.agent_ip);
    view.community = Field(config.community, sizeof config.community);
    upsconf_load(view.agent_ip, view.community);
    if (view.link_up) UPS_close();
    view.link_up = UPS_init() == 1;
    // Whatever the old agent left on the screen goes at the first pass with the new one.
    view.was_connected = false;
}

void RemoteSNMPLeftText(const std::string& address, const std::string& community) {
    PutAgentSettings(address, community);
    PutBlanks(layout::kSnmpBanner.row, layout::kSnmpBanner.col, 32);
    CursorAway();
}

void SNMP_actions(int key, SnmpView& view, ScreenData& data, const UpsConfig& config,
                  int daemon_present, const SnmpPorts& ports) {
    if (!view.link_up) view.link_up = ports.init() == 1;
    bool connected = view.link_up && ConnectionStatus(ports.read) == 1;
    // The menu has just asked; from then on every pass asks afresh.
    bool daemon = (view.first_call ? daemon_present : ports.daemon_present()) == 1;
    view.first_call = false;

    if (key == 'b') {
        view.page = 1;
        view.full_redraw = true;
        BlankScreen();
    } else if (key == 'm' && view.link_up && daemon && connected && view.page != 2) {
        view.page = 2;
        view.page2_request = true;
        BlankScreen();
    }

    bool shown = view.link_up && connected && daemon;
    if (shown) {
        if (!view.was_connected || !view.daemon_was_present) {
            view.full_redraw = true;
            BlankScreen();
        }
        if (view.page == 2 && view.page2_request) {
            ScreenTwo(ports.read);
            view.page2_request = false;
        }
        if (view.page == 1) MainPage(view, data, ports);
    } else {
        NoData(view, data);
    }

    if (view.page == 1) {
        PutAgentSettings(Field(config.agent_ip, sizeof config.agent_ip),
                         Field(config.community, sizeof config.community));
        CursorAway();
    }
    // Asked again after drawing: an agent that went silent half-way through the page left
    // "N/A" in rows that only a full redraw reads again. A pass without data needs no asking:
    // the next one with data redraws everything anyway.
    view.was_connected = shown && ConnectionStatus(ports.read) == 1;
    view.daemon_was_present = daemon;
    view.full_redraw = false;
}

void RemoteSnmpPass(int key, SnmpView& view, ScreenData& data, const std::string& address,
                    const std::string& community, const SnmpPorts& ports) {
    if (!view.link_up) view.link_up = ports.init() == 1;
    bool connected = view.link_up && ConnectionStatus(ports.read) == 1;

    if (key == 'b') {
        view.page = 1;
        view.full_redraw = true;
        BlankScreen();
    } else if (key == 'm' && view.link_up && connected && view.page != 2) {
        view.page = 2;
        view.page2_request = true;
        BlankScreen();
    } else if (key == 'r') {
        wclear(stdscr);
        view.full_redraw = true;
        view.page2_request = true;
    }

    if (connected) {
        if (!view.was_connected) {
            view.full_redraw = true;
            BlankScreen();
        }
        if (view.page == 1) {
            MainPage(view, data, ports);
        } else if (view.page2_request) {
            ScreenTwo(ports.read);
        }
    } else {
        NoData(view, data);
    }
    if (view.page == 1) RemoteSNMPLeftText(address, community);

    view.was_connected = connected;
    view.full_redraw = false;
    view.page2_request = false;
}

void vornii_status_remote(const std::string& address, const std::string& community) {
    // Nothing the access layer or the library says may land on the curses screen.
    UPS_report_to(nullptr);
    SystemText();
    upsconf_load(address, community);
    SnmpView view;
    view.link_up = LiveSnmpPorts().init() == 1;
    InitScreen();

    // No local schedule applies to a remote UPS.
    ScreenData data;
    data.next_shutdown = kNoTime;
    data.next_restart = kNoTime;

    int key = -1;
    while (key != 'q') {
        RemoteSnmpPass(key, view, data, address, community);
        wrefresh(stdscr);
        key = GetCH();
    }
    if (view.link_up) UPS_close();
    EndScreen();
}
