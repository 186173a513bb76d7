#include "config_screen.h"

#include <curses.h>

#include <cstdio>
#include <string>

#include "config_layout.h"
#include "msgq.h"
#include "paths.h"
#include "screen.h"
#include "text_util.h"

namespace {

using namespace layout;

std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Format(const char* format, int value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Cell(int value) {
    return value == -1 ? std::string("--") : Format("%02d", value);
}

void DrawCommunication(const UpsConfig& c) {
    PutText(kCfgMonitoring.row, kCfgMonitoring.col, kCfgMonitoringLabel);
    PutBlanks(kCfgMonitoring.row, kCfgMonitoringValueCol, 20);
    PutText(kCfgMonitoring.row, kCfgMonitoringValueCol,
            c.comm_mode == 1 ? kCfgSnmpMonitoring : kCfgSerialMonitoring);

    PutBlanks(kCfgAgentIp.row, kCfgLabelCol, 65);
    PutBlanks(kCfgCommunity.row, kCfgLabelCol, 65);
    if (c.comm_mode == 1) {
        PutText(kCfgAgentIp.row, kCfgAgentIp.col, kCfgAgentIpLabel);
        PutText(kCfgCommunity.row, kCfgCommunity.col, kCfgCommunityLabel);
        PutText(kCfgAgentIp.row, kCfgTextCol, Printable(c.agent_ip));
        PutText(kCfgCommunity.row, kCfgTextCol, Printable(c.community));
    } else {
        const Pos& port = cw_p[kCfgComport];
        PutText(port.row, kCfgLabelCol, cw_s[kCfgComport]);
        PutBlanks(port.row, port.col, 44);
        PutText(port.row, port.col, Printable(c.comport));
    }
}

void DrawValues(const UpsConfig& c) {
    int acfail = c.acfail_delay;
    PutText(cw_p[kCfgAcfail].row, cw_p[kCfgAcfail].col,
            acfail > 60 ? Format("%2d.0 Hrs.", acfail / 60) : Format("%2d.0", acfail));
    PutText(cw_p[kCfgBattlow].row, cw_p[kCfgBattlow].col, Format("%2d.0", c.battlow_delay));
    PutText(cw_p[kCfgTurnoff].row, cw_p[kCfgTurnoff].col, Format("%4.1f", c.turnoff_delay));
    if (c.battery_rating > 0 && c.comm_mode != 1) {
        PutText(cw_p[kCfgRating].row, cw_p[kCfgRating].col, Format("%4.1f", c.battery_rating));
    }
    PutText(cw_p[kCfgCountdown].row, cw_p[kCfgCountdown].col, c.countdown_on == 1 ? "ON " : "OFF");
}

void DrawGrid(const UpsConfig& c, const WeekSchedule& s) {
    bool schedule = c.schedule_on == 1;
    bool restart = c.turnoff_ups == 1;
    for (std::size_t day = 0; day < 7; ++day) {
        const ScheduleDay& d = s.day[day];
        int hour_col = x_position[day * 2];
        int minute_col = x_position[day * 2 + 1];
        bool show_restart = schedule && restart;
        PutText(kCfgStartUpRow, hour_col, show_restart ? Cell(d.restart_hour) : "--");
        PutText(kCfgStartUpRow, minute_col, show_restart ? Cell(d.restart_minute) : "--");
        PutText(kCfgShutdownRow, hour_col, schedule ? Cell(d.shutdown_hour) : "--");
        PutText(kCfgShutdownRow, minute_col, schedule ? Cell(d.shutdown_minute) : "--");
    }
    PutText(cw_p[kCfgScheduling].row, cw_p[kCfgScheduling].col, schedule ? "ON " : "OFF");
    PutText(kCfgTurnoffUps.row, kCfgTurnoffUps.col, kCfgTurnoffUpsLabel);
    PutText(kCfgTurnoffUps.row, kCfgTurnoffUpsValueCol, restart ? "YES" : "NO ");
}

std::string_view SaveMessage(SaveOutcome outcome) {
    switch (outcome) {
        case SaveOutcome::kSaved:
            return kCfgSaveCompleted;
        case SaveOutcome::kFailed:
            return kCfgSaveFailed;
        case SaveOutcome::kChangedElsewhere:
            return kCfgChangedElsewhere;
        case SaveOutcome::kNone:
            break;
    }
    return {};
}

// The row 18 message can be longer than the 20 columns the screen has always blanked there.
constexpr int kSaveMessageRoom = 43;

void DrawMessages(const ConfigEditor& e) {
    const int save_row = cw_p[kCfgSave].row;
    const int quit_row = cw_p[kCfgQuit].row;
    if (e.row != save_row) PutBlanks(save_row, cw_p[kCfgSave].col, kSaveMessageRoom);
    if (e.row != quit_row) PutBlanks(quit_row, cw_p[kCfgQuit].col, 44);
    if (e.message != kMsgTooClose && (e.row != kCfgStartUpRow || e.message == kMsgNone)) {
        PutBlanks(kCfgTooClose.row, kCfgTooClose.col, 41);
    }

    wmove(stdscr, e.row, e.col);
    if (e.row == save_row) {
        PutBlanks(save_row, cw_p[kCfgSave].col, kSaveMessageRoom);
        PutText(save_row, cw_p[kCfgSave].col, SaveMessage(e.save), true);
    }
    if (e.row == quit_row) PutText(quit_row, cw_p[kCfgQuit].col, kCfgQuitWarning, true);
    if (e.row == kCfgStartUpRow && e.config.schedule_on == 0) {
        PutText(t_xy.row, t_xy.col, kCfgScheduleOff, true);
    }
    if (e.message == kMsgTooClose) {
        PutText(kCfgTooClose.row, kCfgTooClose.col, kCfgTooCloseText, true);
    } else if (e.message == kMsgRebootHint) {
        PutText(t_xy.row, t_xy.col, kCfgRebootHint, true);
    }
    wmove(stdscr, e.row, e.col);
}

ConfigSaver LiveSaver(std::string& fingerprint) {
    ConfigSaver saver;
    saver.changed_elsewhere = [&fingerprint] {
        std::string now = ConfigFingerprint();
        // Files that are gone or unreadable hold no one else's work to lose.
        return !now.empty() && now != fingerprint;
    };
    saver.write = [](const UpsConfig& c, const WeekSchedule& s) { return WriteConfig(&c, &s); };
    saver.announce = [] {
        SendConfigChngMsg(CreateMsgQ(kControlQueueId));
        SendConfigChngMsg(CreateMsgQ(kRedrawQueueId));
    };
    return saver;
}

}  // namespace

int SendConfigChngMsg(int queue) {
    return SendMsg(queue, kMsgControl, kCtrlTextReload) == 1 ? 1 : -1;
}

namespace {

std::string Image(const UpsConfig& c, const WeekSchedule& s) {
    auto image = EncodeIni(c, s);
    return std::string(image.begin(), image.end());
}

// Reads both files over the defaults and remembers what they held. When one cannot be read the
// editor still gets what the other gave (vorn.ini alone, or a kelvora.cfg written by hand
// before there was any vorn.ini), so that writing the pair anew keeps it.
bool Load(ConfigEditor& e, std::string& fingerprint) {
    UpsConfig c{};
    WeekSchedule s{};
    InitConfig(&c, &s);
    bool read = ReadConfig(&c, &s) == 1;
    if (!read) ApplyCfgFile(&c);
    fingerprint = Image(c, s);
    e.config = c;
    e.schedule = s;
    BoundForEditor(e.config, e.schedule);
    return read;
}

}  // namespace

std::string ConfigFingerprint() {
    UpsConfig c{};
    WeekSchedule s{};
    InitConfig(&c, &s);
    return ReadConfig(&c, &s) == 1 ? Image(c, s) : std::string();
}

void DrawString(const ConfigEditor& e) {
    const UpsConfig& c = e.config;
    DrawCommunication(c);
    ScreenHeading(kCfgTitle, kCfgClockRight);
    for (int entry = 0; entry < kCfgEntryCount; ++entry) {
        if (entry == kCfgComport) continue;
        PutText(cw_p[static_cast<std::size_t>(entry)].row, kCfgLabelCol,
                cw_s[static_cast<std::size_t>(entry)]);
    }
    if (c.comm_mode == 1) PutBlanks(cw_p[kCfgRating].row, kCfgLabelCol, 65);
    DrawValues(c);
    DrawGrid(c, e.schedule);
    const HelpText& help = kCfgHelp[static_cast<std::size_t>(e.mode - 1)];
    for (std::size_t i = 0; i < cb_p.size(); ++i) PutText(cb_p[i].row, cb_p[i].col, help[i]);
    DrawMessages(e);
}

int vornii_config() {
    ConfigEditor e;
    std::string fingerprint;
    if (!Load(e, fingerprint)) {
        if (WriteConfig(&e.config, &e.schedule) != 1) {
            std::printf("File %s Error!\n", kelvora::RootPath("vorn.ini").c_str());
            return 0;
        }
        fingerprint = ConfigFingerprint();
    }
    ConfigSaver saver = LiveSaver(fingerprint);

    InitScreen();
    wclear(stdscr);
    while (!e.quit) {
        DrawBox(19, 79, 2, 0);
        DrawString(e);
        wrefresh(stdscr);
        int key = GetCH();
        ConfigKey(e, key, saver);
        // After a save the screen shows what the files now hold (the cuts of the save, a
        // daemon's rewrite), but never over edits made since: those are the user's.
        if (e.rereads > 0) {
            if (!e.dirty) {
                ConfigEditor fresh = e;
                std::string now;
                if (Load(fresh, now)) {
                    e.config = fresh.config;
                    e.schedule = fresh.schedule;
                    fingerprint = now;
                }
            }
            --e.rereads;
        }
        if (e.clear_screen) {
            wclear(stdscr);
            e.clear_screen = false;
        }
        if (InputGone()) break;
    }
    EndScreen();
    return 0;
}
