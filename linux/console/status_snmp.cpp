// The status screen's displays of a UPS behind an SNMP agent. Until the agent access layer is
// part of the console, no agent gives data, and both displays show the no-data screen with the
// values that come from the local configuration.
#include <curses.h>

#include <string>

#include "screen.h"
#include "screen_layout.h"
#include "status_screen.h"

namespace {

constexpr std::string_view kSnmpRemoteHint = "[r]-Redraw, [m]-More, [q]-Quit       ";

void RemoteSNMPLeftText(const std::string& address, const std::string& community) {
    PutBlanks(layout::kSnmpAddress.row, layout::kSnmpAddress.col, 14);
    PutBlanks(layout::kSnmpCommunity.row, layout::kSnmpCommunity.col, 14);
    PutText(layout::kSnmpAddress.row, layout::kSnmpAddress.col, address);
    PutText(layout::kSnmpCommunity.row, layout::kSnmpCommunity.col, community);
    // The remote display never shows the shutdown banner: this machine's schedule is not that
    // UPS's business.
    PutBlanks(layout::kSnmpBanner.row, layout::kSnmpBanner.col, 32);
    wmove(stdscr, layout::kRows - 1, layout::kCols - 1);
}

}  // namespace

void SNMPnoDATA(const ScreenData& data) {
    BasicScreen(2);
    for (int row : {5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16}) {
        PutText(row, layout::kSnmpValueCol, layout::kSnmpNoValue);
    }
    for (const layout::Item& item : layout::sw2) PutText(item.row, item.label_col, item.label);
    for (std::size_t i = 0; i < layout::SNMP_LEFTTXT.size(); ++i) {
        PutText(layout::kSnmpLabelRow + static_cast<int>(i), layout::kSnmpLabelCol,
                layout::SNMP_LEFTTXT[i]);
    }
    PutText(layout::kSnmpNextShutdown.row, layout::kSnmpNextShutdown.col, data.next_shutdown);
    PutText(layout::kSnmpNextRestart.row, layout::kSnmpNextRestart.col, data.next_restart);
    PutText(layout::kSnmpAcfailDelay.row, layout::kSnmpAcfailDelay.col, data.acfail_delay);
    PutText(layout::kSnmpTurnoffDelay.row, layout::kSnmpTurnoffDelay.col, data.turnoff_delay);
    for (int m = 0; m < layout::kMeterCount; ++m) {
        const layout::Item& label = layout::MeterLabel(static_cast<layout::Meter>(m));
        PutText(label.row, label.value_col, layout::kSnmpNoValue);
    }
    PutRightAligned(layout::sb_label.row, layout::st_clock_right, layout::kRedrawQuitHint);
}

void SNMP_actions(int key, SnmpView& view, ScreenData& data, const UpsConfig& /*config*/,
                  int /*daemon_present*/) {
    view.first_call = false;
    if (key == 'b') {
        view.page = 1;
        view.full_redraw = true;
        BlankScreen();
    }
    // No agent answers yet: page 1 with the no-data screen.
    view.link_up = false;
    view.page = 1;
    BlankScreen();
    SNMPnoDATA(data);
    view.full_redraw = false;
    view.page2_request = false;
}

void vornii_status_remote(const std::string& address, const std::string& community) {
    SystemText();
    InitScreen();
    ScreenData data;
    data.next_shutdown = kNoTime;
    data.next_restart = kNoTime;
    SnmpView view;
    int key = -1;
    while (key != 'q') {
        if (key == 'r') wclear(stdscr);
        view.page = 1;
        BlankScreen();
        SNMPnoDATA(data);
        RemoteSNMPLeftText(address, community);
        wrefresh(stdscr);
        key = GetCH();
    }
    EndScreen();
}
