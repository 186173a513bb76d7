#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "config_edit.h"
#include "config_screen.h"
#include "msgq.h"
#include "screen.h"
#include "temp_root.h"
#include "virtual_screen.h"

namespace {

ConfigEditor Editor() {
    ConfigEditor e;
    InitConfig(&e.config, &e.schedule);
    return e;
}

// Presses the keys one by one, each through the handler of the mode the previous key left.
struct Keys {
    ConfigEditor& e;
    ConfigSaver saver;
    void operator()(std::string_view keys) {
        for (char k : keys) ConfigKey(e, static_cast<unsigned char>(k), saver);
    }
};

int16_t StepAcfail(int from, char key, int battlow = 1) {
    ConfigEditor e = Editor();
    e.config.acfail_delay = static_cast<int16_t>(from);
    e.config.battlow_delay = static_cast<int16_t>(battlow);
    Keys{e, {}}(std::string("d") + key);
    return e.config.acfail_delay;
}

TEST(ConfigStepping, AcfailDelayStepsByMinutesTensAndHoursAndWraps) {
    EXPECT_EQ(StepAcfail(30, '+'), 40);
    EXPECT_EQ(StepAcfail(30, '-'), 29);
    EXPECT_EQ(StepAcfail(60, 'i'), 120);
    EXPECT_EQ(StepAcfail(60, 'm'), 50);
    EXPECT_EQ(StepAcfail(1440, '+', 4), 4);
    EXPECT_EQ(StepAcfail(1440, '-'), 1380);
    EXPECT_EQ(StepAcfail(3, '-', 3), 1440);
    EXPECT_EQ(StepAcfail(29, '+'), 30);
    EXPECT_EQ(StepAcfail(50, '+'), 60);

    // The whole road up from 1: every value the screen offers, in order.
    ConfigEditor e = Editor();
    e.config.acfail_delay = 1;
    std::vector<int> seen;
    Keys press{e, {}};
    press("d");
    for (int i = 0; i < 60 && (seen.empty() || seen.back() != 1); ++i) {
        press("+");
        seen.push_back(e.config.acfail_delay);
    }
    std::vector<int> expected;
    for (int v = 2; v <= 30; ++v) expected.push_back(v);
    for (int v = 40; v <= 60; v += 10) expected.push_back(v);
    for (int v = 120; v <= 1440; v += 60) expected.push_back(v);
    expected.push_back(1);
    EXPECT_EQ(seen, expected);
}

TEST(ConfigStepping, BattlowTurnoffAndRatingWrapInTheirRanges) {
    ConfigEditor e = Editor();
    Keys press{e, {}};
    e.config.acfail_delay = 5;
    e.config.battlow_delay = 5;
    press("b+");
    EXPECT_EQ(e.config.battlow_delay, 1);
    press("-");
    EXPECT_EQ(e.config.battlow_delay, 5);
    e.config.acfail_delay = 30;
    e.config.battlow_delay = 10;
    press("+");
    EXPECT_EQ(e.config.battlow_delay, 1) << "never above 10";

    auto turnoff = [&](float from, std::string_view keys) {
        e.config.turnoff_delay = from;
        press("u");
        press(keys);
        return e.config.turnoff_delay;
    };
    EXPECT_FLOAT_EQ(turnoff(0.9f, "+"), 1.0f);
    EXPECT_FLOAT_EQ(turnoff(0.9f, "++"), 2.0f);
    EXPECT_FLOAT_EQ(turnoff(10.0f, "+"), 0.2f);
    EXPECT_FLOAT_EQ(turnoff(0.2f, "-"), 10.0f);
    EXPECT_FLOAT_EQ(turnoff(1.0f, "-"), 0.9f);
    // Round trips stay on the tenths: seventeen steps up and back land exactly where they began.
    EXPECT_EQ(turnoff(0.2f, "+++++++++++++++++-----------------"), 0.2f);

    e.config.battery_rating = 96.0f;
    press("v+");
    EXPECT_EQ(e.config.battery_rating, 0.0f);
    press("-");
    EXPECT_EQ(e.config.battery_rating, 96.0f);
    press("-");
    EXPECT_EQ(e.config.battery_rating, 84.0f);

    // Rows without a number: nothing changes, but the screen counts the key as an edit.
    ConfigEditor f = Editor();
    Keys{f, {}}("n+");
    EXPECT_TRUE(f.dirty);
    EXPECT_EQ(f.config.countdown_on, 0);
}

TEST(ConfigGrid, CellsWrapThroughNotSetAndTheCursorMoves) {
    ConfigEditor e = Editor();
    Keys press{e, {}};
    e.config.schedule_on = 1;
    e.schedule.day[0].restart_hour = 23;
    press("t");
    ASSERT_EQ(e.mode, kModeGrid);
    EXPECT_EQ(e.row, 15);
    EXPECT_EQ(e.col, 20);
    press("+");
    EXPECT_EQ(e.schedule.day[0].restart_hour, -1);
    press("-");
    EXPECT_EQ(e.schedule.day[0].restart_hour, 23);
    press("r-");  // the minute: -1 down wraps to 59
    EXPECT_EQ(e.schedule.day[0].restart_minute, 59);
    press("l");
    press("l");  // from Sunday's hour left to Saturday's minute
    EXPECT_EQ(e.cell, 13);
    EXPECT_EQ(e.col, 65);
    press("C");  // the right arrow's last character
    EXPECT_EQ(e.cell, 0);
    press("d+");
    EXPECT_EQ(e.row, 16);
    EXPECT_EQ(e.schedule.day[0].shutdown_hour, 0);

    // Without the automatic restart there is only the shutdown row, and a hint.
    e.config.turnoff_ups = 0;
    press("u");
    EXPECT_EQ(e.row, 16);
    EXPECT_EQ(e.message, kMsgRebootHint);
    press("r");
    EXPECT_EQ(e.message, kMsgNone);
}

TEST(ConfigGrid, StartUpTooCloseAfterShutdownKeepsTheGrid) {
    ConfigEditor e = Editor();
    e.config.turnoff_delay = 3.0f;
    auto check = [&](int restart_h, int restart_m, int shutdown_h, int shutdown_m) {
        WeekSchedule s = e.schedule;
        s.day[4] = ScheduleDay{restart_h, restart_m, shutdown_h, shutdown_m};
        return ChkSchedule(e.config, s);
    };
    EXPECT_EQ(check(7, 0, 7, 0), 0);
    EXPECT_EQ(check(7, 3, 7, 0), 0);
    EXPECT_EQ(check(7, 4, 7, 0), 1);
    EXPECT_EQ(check(6, 59, 7, 0), 1);
    EXPECT_EQ(check(7, -1, 7, -1), 0) << "set hours with unset minutes count as on the hour";
    EXPECT_EQ(check(-1, 0, 7, 0), 1);

    WeekSchedule s = e.schedule;
    s.day[2] = ScheduleDay{8, -1, -1, 30};
    EXPECT_EQ(ChkSchedule(e.config, s), 1);
    EXPECT_EQ(s.day[2].restart_minute, 0);
    EXPECT_EQ(s.day[2].shutdown_minute, -1);

    // Enter on a failing grid stays in it with the warning; fixed, it returns to the main mode.
    e.config.schedule_on = 1;
    e.schedule.day[4] = ScheduleDay{7, 0, 7, 0};
    Keys press{e, {}};
    press("t\r");
    EXPECT_EQ(e.mode, kModeGrid);
    EXPECT_EQ(e.message, kMsgTooClose);
    e.schedule.day[4].restart_minute = 4;
    press("\n");
    EXPECT_EQ(e.mode, kModeMain);
    EXPECT_EQ(e.row, 3);
    EXPECT_EQ(e.col, 63);
    EXPECT_EQ(e.message, kMsgNone);

    // With the schedule off the grid cannot be entered.
    e.config.schedule_on = 0;
    press("t+");
    EXPECT_EQ(e.mode, kModeMain);
    EXPECT_EQ(e.schedule.day[0].restart_hour, -1);
}

TEST(ConfigLineEditors, TypeEraseConfirmAndCancel) {
    ConfigEditor e = Editor();
    Keys press{e, {}};
    press("c");
    EXPECT_EQ(e.mode, kModeComport);
    EXPECT_EQ(e.col, 33 + 10);  // after "/dev/ttyS1"
    press("\b\b0");
    EXPECT_STREQ(e.config.comport, "/dev/tty0");
    press("\x1b");
    EXPECT_STREQ(e.config.comport, "/dev/ttyS1");
    EXPECT_FALSE(e.dirty);
    EXPECT_EQ(e.mode, kModeMain);
    press("o");  // no community in serial mode
    EXPECT_EQ(e.mode, kModeMain);

    press("k");
    EXPECT_EQ(e.config.comm_mode, 1);
    e.dirty = false;
    press("c");  // no serial device in SNMP mode
    EXPECT_EQ(e.mode, kModeMain);
    press("o");
    EXPECT_EQ(e.col, 33);
    press("ab c");  // the first character replaces the old name; blanks are refused
    EXPECT_STREQ(e.config.community, "abc");
    press("\r");
    EXPECT_TRUE(e.dirty);

    // At most 29 characters, whatever is typed; backspace stops at the first column.
    press("p");
    press(std::string(40, '9'));
    EXPECT_EQ(std::strlen(e.config.agent_ip), 29u);
    EXPECT_EQ(e.col, 62);
    press(std::string(40, '\b'));
    EXPECT_STREQ(e.config.agent_ip, "");
    EXPECT_EQ(e.col, 33);
    press("\n");
}

struct Recorder {
    int writes = 0;
    int announces = 0;
    int result = 1;
    bool foreign = false;
    UpsConfig written{};
    ConfigSaver Saver() {
        return {[this] { return foreign; },
                [this](const UpsConfig& c, const WeekSchedule&) {
                    ++writes;
                    written = c;
                    return result;
                },
                [this] { ++announces; }};
    }
};

TEST(ConfigSave, CutsTheAgentFieldsAndQuitsAtOnceAfterwards) {
    ConfigEditor e = Editor();
    Recorder r;
    Keys press{e, r.Saver()};
    press("k");
    press("o");
    press("community1234\r");
    press("p");
    press("host.example\r");
    press("s");
    EXPECT_EQ(r.writes, 1);
    EXPECT_EQ(r.announces, 1);
    EXPECT_STREQ(r.written.community, "communit");
    EXPECT_STREQ(r.written.agent_ip, "127.0.0.1");
    EXPECT_EQ(e.save, SaveOutcome::kSaved);
    EXPECT_EQ(e.rereads, 5);
    EXPECT_EQ(e.row, 18);
    press("q");
    EXPECT_TRUE(e.quit);

    ConfigEditor f = Editor();
    Keys{f, r.Saver()}("kp192.168.100.200.15\rs");
    EXPECT_STREQ(r.written.agent_ip, "192.168.100.200");
}

TEST(ConfigSave, QuitWarnsOnceAboutUnsavedChanges) {
    ConfigEditor e = Editor();
    Keys press{e, {}};
    press("n");
    press("q");
    EXPECT_FALSE(e.quit);
    EXPECT_EQ(e.row, 19);
    EXPECT_EQ(e.col, 19);
    press("q");
    EXPECT_TRUE(e.quit);
}

TEST(ConfigSave, AFailedWriteSaysSoAndKeepsTheEditsUnsaved) {
    ConfigEditor e = Editor();
    Recorder r;
    r.result = 0;
    Keys press{e, r.Saver()};
    press("d+s");
    EXPECT_EQ(e.save, SaveOutcome::kFailed);
    EXPECT_EQ(r.announces, 0) << "the daemon must not reload files that did not change";
    EXPECT_TRUE(e.dirty);
    EXPECT_EQ(e.rereads, 0);
    press("q");
    EXPECT_FALSE(e.quit) << "unsaved edits still get the warning";
}

TEST(ConfigSave, AForeignSaveIsReportedBeforeItIsOverwritten) {
    ConfigEditor e = Editor();
    Recorder r;
    r.foreign = true;
    Keys press{e, r.Saver()};
    press("d+s");
    EXPECT_EQ(e.save, SaveOutcome::kChangedElsewhere);
    EXPECT_EQ(r.writes, 0);
    press("s");
    EXPECT_EQ(r.writes, 1) << "the second [s] in a row overwrites";
    EXPECT_EQ(e.save, SaveOutcome::kSaved);

    press("+s");
    EXPECT_EQ(r.writes, 1);
    press("ds");  // another key in between asks again
    EXPECT_EQ(r.writes, 1);
    EXPECT_EQ(e.save, SaveOutcome::kChangedElsewhere);
}

TEST(ConfigBounds, HandEditedValuesComeBackIntoTheEditorsRanges) {
    UpsConfig c{};
    WeekSchedule s{};
    InitConfig(&c, &s);
    c.acfail_delay = 32767;
    c.battlow_delay = -5;
    c.turnoff_delay = std::nanf("");
    c.battery_rating = 1e30f;  // converting this to an integer would be undefined
    s.day[1] = ScheduleDay{99, -7, 12, 60};
    BoundForEditor(c, s);
    EXPECT_EQ(c.acfail_delay, 1440);
    EXPECT_EQ(c.battlow_delay, 1);
    EXPECT_EQ(c.turnoff_delay, 3.0f);
    EXPECT_EQ(c.battery_rating, 96.0f);
    EXPECT_EQ(s.day[1].restart_hour, -1);
    EXPECT_EQ(s.day[1].restart_minute, -1);
    EXPECT_EQ(s.day[1].shutdown_hour, 12);
    EXPECT_EQ(s.day[1].shutdown_minute, -1);

    c.battlow_delay = 8;
    c.acfail_delay = 3;
    c.turnoff_delay = 55.5f;
    BoundForEditor(c, s);
    EXPECT_EQ(c.acfail_delay, 8) << "never below the battery-low delay";
    EXPECT_EQ(c.turnoff_delay, 10.0f);

    // A toggle holding neither 0 nor 1 shows as off, and its key turns it on.
    ConfigEditor e = Editor();
    e.config.countdown_on = 7;
    e.config.comm_mode = -3;
    Keys{e, {}}("nk");
    EXPECT_EQ(e.config.countdown_on, 1);
    EXPECT_EQ(e.config.comm_mode, 1);
}

// The screen as the drawing leaves it, against one built from the layout by hand.
Canvas Expected(bool snmp) {
    Canvas c;
    c.Box(19, 79, 2, 0);
    c.Put(0, 1, "(Kelvora) UPS Configuration Utility, Ver. 2.1");
    c.Put(3, 9, "[d] System Shutdown Delay Time When AC Power Failed:      Min.")
        .Put(3, 62, " 5.0");
    c.Put(4, 9, "[b] System Shutdown Delay Time When Battery Low    :      Min.")
        .Put(4, 62, " 1.0");
    c.Put(5, 9, "[u] UPS Turn Off Delay Time                        :      Min.")
        .Put(5, 62, " 3.0");
    if (!snmp) {
        c.Put(6, 9, "[v] Battery Rating Voltage(if not provided by UPS) :  --- Volt.");
        c.Put(7, 9, "[c] Communication Port:").Put(7, 33, "/dev/ttyS1");
    } else {
        c.Put(7, 9, "[o] Community Name   : ").Put(7, 33, "gazers");
        c.Put(8, 9, "[p] Ip Address       : ").Put(8, 33, "127.0.0.1");
    }
    c.Put(9, 9, "[n] Shutdown Count Down Display:").Put(9, 42, "ON ");
    c.Put(10, 9, "[l] Scheduling Function        :").Put(10, 42, "OFF");
    c.Put(11, 9, "[a] Turn off UPS after System Shutdown:").Put(11, 49, "YES");
    c.Put(12, 9, "[t] Time Scheduling(hh:mm)");
    c.Put(14, 9, "            Sun.   Mon.   Tue.   Wed.   Thu.   Fri.   Sat.");
    c.Put(15, 9, "Start-Up:    :      :      :      :      :      :      :  ");
    c.Put(16, 9, "Shutdown:    :      :      :      :      :      :      :  ");
    for (int col : {20, 23, 27, 30, 34, 37, 41, 44, 48, 51, 55, 58, 62, 65}) {
        c.Put(15, col, "--").Put(16, col, "--");
    }
    c.Put(17, 9, "[k] <<Change UPS Monitoring>> ");
    c.Put(17, 39,
          snmp ? "Monitor local UPS SNMP agent \t   " : "Monitor UPS from local serial port");
    c.Put(18, 9, "[s] Save Configuration. ");
    c.Put(19, 9, "[q] Quit. ");
    c.Put(21, 9, "Press the letters in brackets to select items.         ");
    c.Put(22, 9, "Press [+], [-], or [i], [m] to change values.\t\t ");
    c.Put(23, 9, "Press [r] to redraw screen.");
    return c;
}

void Draw(const ConfigEditor& e) {
    DrawBox(19, 79, 2, 0);
    DrawString(e);
}

void ExpectScreen(const VirtualScreen& screen, const Canvas& expected) {
    for (int row = 0; row < 24; ++row) {
        if (row == 1) continue;  // the clock
        EXPECT_EQ(screen.Row(row), expected.Row(row)) << "row " << row;
    }
    EXPECT_EQ(screen.Row(1).substr(0, 55), std::string(55, ' '));
    EXPECT_EQ(screen.Row(1)[76], '.') << "the clock ends at column 76: " << screen.Row(1);
}

TEST(ConfigScreen, BothModesDrawEveryFieldInItsPlace) {
    VirtualScreen screen;
    ASSERT_TRUE(screen.ok());
    ConfigEditor e = Editor();
    Draw(e);
    ExpectScreen(screen, Expected(false));

    Keys{e, {}}("k");
    e.row = 3;
    Draw(e);
    ExpectScreen(screen, Expected(true));
}

TEST(ConfigScreen, ValuesHoursTheGridAndTheMessages) {
    VirtualScreen screen;
    ASSERT_TRUE(screen.ok());
    ConfigEditor e = Editor();
    e.config.acfail_delay = 120;
    e.config.battery_rating = 24.0f;
    e.config.schedule_on = 1;
    e.schedule.day[1] = ScheduleDay{7, 5, 22, 30};
    Draw(e);
    EXPECT_EQ(screen.Row(3).substr(60, 12), ":  2.0 Hrs. ");
    EXPECT_EQ(screen.Row(6).substr(60, 12), ": 24.0 Volt.");
    EXPECT_EQ(screen.Row(15).substr(9, 60),
              "Start-Up:  --:--  07:05  --:--  --:--  --:--  --:--  --:--  ");
    EXPECT_EQ(screen.Row(16).substr(9, 60),
              "Shutdown:  --:--  22:30  --:--  --:--  --:--  --:--  --:--  ");
    e.config.acfail_delay = 90;
    Draw(e);
    EXPECT_EQ(screen.Row(3).substr(62, 9), " 1.0 Hrs.");
    e.config.acfail_delay = 45;
    Draw(e);
    EXPECT_EQ(screen.Row(3).substr(62, 9), "45.0 Min.");

    // Without the automatic restart the start-up row shows nothing set.
    e.config.turnoff_ups = 0;
    Draw(e);
    EXPECT_EQ(screen.Row(15).substr(27, 5), "--:--");
    EXPECT_EQ(screen.Row(11).substr(49, 3), "NO ");

    // Messages stand in standout where they belong and leave no trace once the cursor moves.
    e.row = 19;
    e.col = 19;
    Draw(e);
    EXPECT_EQ(screen.Row(19).substr(19, 41), "(Press [q] again to quit without saving!)");
    EXPECT_EQ(screen.StandoutMap(19).substr(18, 43), "." + std::string(41, '#') + ".");
    e.row = 18;
    e.col = 35;
    e.save = SaveOutcome::kChangedElsewhere;
    Draw(e);
    EXPECT_EQ(screen.Row(18).substr(35, 35), "(Changed elsewhere! [s] overwrites)");
    EXPECT_EQ(screen.Row(19).substr(19, 44), std::string(44, ' '));
    e.save = SaveOutcome::kSaved;
    Draw(e);
    EXPECT_EQ(screen.Row(18).substr(33, 45), "  (Save Completed!)" + std::string(26, ' '));
    e.row = 3;
    e.message = kMsgTooClose;
    Draw(e);
    EXPECT_EQ(screen.Row(12).substr(36, 40), "(Start Time Too Close to Shutdown Time!)");
    EXPECT_EQ(screen.Row(18).substr(35, 17), std::string(17, ' '));
    e.message = kMsgNone;
    Draw(e);
    EXPECT_EQ(screen.Row(12).substr(36, 41), std::string(41, ' '));
}

// The editor against real files and queues in a private root.
TEST(ConfigScreen, SaveMessageReachesTheControlAndRedrawQueues) {
    TempRoot root;
    int control = CreateMsgQ(kControlQueueId);
    int redraw = CreateMsgQ(kRedrawQueueId);
    ASSERT_GE(control, 0);
    EXPECT_EQ(SendConfigChngMsg(control), 1);
    EXPECT_EQ(SendConfigChngMsg(redraw), 1);
    std::string text;
    ASSERT_EQ(ReceiveMsg(control, kMsgControl, text), 1);
    EXPECT_EQ(text, "010");
    ASSERT_EQ(ReceiveMsg(redraw, kMsgControl, text), 1);
    EXPECT_EQ(text, "010");
    EXPECT_EQ(SendConfigChngMsg(-1), -1);

    EXPECT_EQ(ConfigFingerprint(), "") << "no files yet";
    UpsConfig c{};
    WeekSchedule s{};
    InitConfig(&c, &s);
    ASSERT_EQ(WriteConfig(&c, &s), 1);
    std::string before = ConfigFingerprint();
    EXPECT_EQ(before.size(), kIniFileSize);
    root.Write("kelvora.cfg", root.Read("kelvora.cfg") + "\n");  // no value changed
    EXPECT_EQ(ConfigFingerprint(), before);
    c.battlow_delay = 2;
    ASSERT_EQ(WriteConfig(&c, &s), 1);
    EXPECT_NE(ConfigFingerprint(), before);
}

}  // namespace
