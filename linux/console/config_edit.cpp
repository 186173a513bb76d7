#include "config_edit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "config_layout.h"

namespace {

constexpr int kEsc = 27;
constexpr int kBackspace = 8;

bool IsEnter(int key) {
    return key == 10 || key == 13;
}

// The AC-fail delay runs 1 .. 30 by minutes, 30 .. 60 by ten minutes and on by hours; at the
// joints the step depends on the direction.
int AcfailStep(int value, int key, int previous) {
    if (value == 30) return IsUp(key) ? 10 : 1;
    if (value == 60) return IsUp(key) ? 60 : 10;
    if (value == 1440 && IsDown(key)) return 60;
    if (value < 30) return 1;
    if (value < 60) return 10;
    if (value < 1440) return 60;
    return previous;
}

template <typename T>
void Step(T& field, int key, int max, int min, int step) {
    int value = field;
    if (IsUp(key)) {
        value += step;
        if (value > max) value = min;
    } else if (IsDown(key)) {
        value -= step;
        if (value < min) value = max;
    } else {
        return;
    }
    field = static_cast<T>(value);
}

// Switches between 0 and 1. A hand-edited other value reads as "off" on the screen (it shows
// the texts of 0), so the key turns it on, as it would from 0.
template <typename T>
void Toggle(T& field) {
    field = field == 1 ? 0 : 1;
}

char (&EditedText(ConfigEditor& e))[30] {
    if (e.mode == kModeCommunity) return e.config.community;
    if (e.mode == kModeAgentIp) return e.config.agent_ip;
    return e.config.comport;
}

void ToMainMode(ConfigEditor& e) {
    e.mode = kModeMain;
    e.row = layout::cw_p[layout::kCfgAcfail].row;
    e.col = layout::cw_p[layout::kCfgAcfail].col + 1;
}

void StartLineEdit(ConfigEditor& e, int mode, int row, bool at_end) {
    e.mode = mode;
    e.saved_text = EditedText(e);
    e.row = row;
    e.col = layout::kCfgTextCol + (at_end ? static_cast<int>(e.saved_text.size()) : 0);
}

void LineEdit(ConfigEditor& e, int key) {
    char(&text)[30] = EditedText(e);
    if (key > ' ' && key < 127) {
        if (e.col < layout::kCfgTextEndCol) {
            std::size_t at = static_cast<std::size_t>(e.col - layout::kCfgTextCol);
            text[at] = static_cast<char>(key);
            text[at + 1] = '\0';
            ++e.col;
        }
    } else if (key == kBackspace) {
        if (e.col > layout::kCfgTextCol) {
            text[e.col - layout::kCfgTextCol - 1] = '\0';
            --e.col;
        }
    } else if (IsEnter(key)) {
        if (e.saved_text != text) e.dirty = true;
        ToMainMode(e);
    } else if (key == kEsc) {
        SetConfigText(text, e.saved_text);
        ToMainMode(e);
    }
}

void Select(ConfigEditor& e, layout::ConfigEntry entry) {
    e.row = layout::cw_p[entry].row;
    e.col = layout::cw_p[entry].col + 1;
}

void Save(ConfigEditor& e, const ConfigSaver& saver, bool overwrite) {
    e.row = layout::cw_p[layout::kCfgSave].row;
    e.col = layout::cw_p[layout::kCfgSave].col;
    if (!overwrite && saver.changed_elsewhere && saver.changed_elsewhere()) {
        e.save = SaveOutcome::kChangedElsewhere;
        e.overwrite_armed = true;
        return;
    }
    UpsConfig& c = e.config;
    if (!std::isdigit(static_cast<unsigned char>(c.agent_ip[0]))) {
        SetConfigText(c.agent_ip, "127.0.0.1");
    }
    c.community[8] = '\0';
    c.agent_ip[15] = '\0';
    if (saver.write(c, e.schedule) != 1) {
        // Nothing was replaced, so the daemon has nothing to reload and the edits stay unsaved.
        e.save = SaveOutcome::kFailed;
        return;
    }
    e.rereads = 5;
    if (saver.announce) saver.announce();
    e.dirty = false;
    e.save = SaveOutcome::kSaved;
}

}  // namespace

bool IsUp(int key) {
    return key == '+' || key == 'i';
}

bool IsDown(int key) {
    return key == '-' || key == 'm';
}

void ShortChange(int16_t& field, int key, int max, int min, int step) {
    Step(field, key, max, min, step);
}

void IntChange(int32_t& field, int key, int max, int min) {
    Step(field, key, max, min, 1);
}

void UPSOffChange(float& field, int key) {
    float v = field;
    if (IsUp(key)) {
        if (v < 0.99f) {
            v += 0.1f;
        } else if (v > 9.9f) {
            v = 0.2f;
        } else {
            v += 1.0f;
        }
    } else if (IsDown(key)) {
        if (v > 1.01f) {
            v -= 1.0f;
        } else if (v < 0.21f) {
            v = 10.0f;
        } else {
            v -= 0.1f;
        }
    } else {
        return;
    }
    // Tenths are what the files keep; rounding stops sums of 0.1 drifting off the steps.
    field = std::round(v * 10.0f) / 10.0f;
}

void SchdlChange(WeekSchedule& schedule, int key, int cell, int row) {
    if (cell < 0 || cell > 13) return;
    ScheduleDay& day = schedule.day[static_cast<std::size_t>(cell / 2)];
    bool restart = row == layout::kCfgStartUpRow;
    if (!restart && row != layout::kCfgShutdownRow) return;
    bool hour = cell % 2 == 0;
    int32_t& field = restart ? (hour ? day.restart_hour : day.restart_minute)
                             : (hour ? day.shutdown_hour : day.shutdown_minute);
    IntChange(field, key, hour ? 23 : 59, -1);
}

void DoChange(ConfigEditor& e, int key) {
    UpsConfig& c = e.config;
    switch (e.row) {
        case 3:
            e.acfail_step = AcfailStep(c.acfail_delay, key, e.acfail_step);
            ShortChange(c.acfail_delay, key, 1440, c.battlow_delay, e.acfail_step);
            break;
        case 4:
            ShortChange(c.battlow_delay, key, std::min<int>(c.acfail_delay, 10), 1, 1);
            break;
        case 5:
            UPSOffChange(c.turnoff_delay, key);
            break;
        case 6: {
            auto volts = static_cast<int16_t>(c.battery_rating);
            ShortChange(volts, key, 96, 0, 12);
            c.battery_rating = static_cast<float>(volts);
            break;
        }
        default:
            break;
    }
}

void ToggleMode(UpsConfig& config) {
    Toggle(config.comm_mode);
}

int ChkSchedule(const UpsConfig& config, WeekSchedule& schedule) {
    auto settle = [](int32_t hour, int32_t& minute) {
        if (hour != -1 && minute == -1) minute = 0;
        if (hour == -1 && minute != -1) minute = -1;
    };
    int delay = static_cast<int>(config.turnoff_delay);
    for (ScheduleDay& d : schedule.day) {
        settle(d.restart_hour, d.restart_minute);
        settle(d.shutdown_hour, d.shutdown_minute);
        if (d.restart_hour == -1 || d.shutdown_hour == -1) continue;
        int gap = (d.restart_hour - d.shutdown_hour) * 60 + d.restart_minute - d.shutdown_minute;
        if (gap >= 0 && gap <= delay) return 0;
    }
    return 1;
}

void BoundForEditor(UpsConfig& c, WeekSchedule& s) {
    c.battlow_delay = std::clamp<int16_t>(c.battlow_delay, 1, 10);
    c.acfail_delay = std::clamp<int16_t>(c.acfail_delay, c.battlow_delay, 1440);
    if (!std::isfinite(c.turnoff_delay)) c.turnoff_delay = 3.0f;
    c.turnoff_delay = std::clamp(c.turnoff_delay, 0.1f, 10.0f);
    if (!std::isfinite(c.battery_rating)) c.battery_rating = 0.0f;
    c.battery_rating = std::clamp(c.battery_rating, 0.0f, 96.0f);
    auto bound = [](int32_t& value, int top) {
        if (value < -1 || value > top) value = -1;
    };
    for (ScheduleDay& d : s.day) {
        bound(d.restart_hour, 23);
        bound(d.restart_minute, 59);
        bound(d.shutdown_hour, 23);
        bound(d.shutdown_minute, 59);
    }
}

void ScreenFunc1(ConfigEditor& e, int key, const ConfigSaver& saver) {
    bool overwrite = e.overwrite_armed;
    e.overwrite_armed = false;
    UpsConfig& c = e.config;
    bool snmp = c.comm_mode == 1;
    switch (key) {
        case '+':
        case '-':
        case 'i':
        case 'm':
            DoChange(e, key);
            e.dirty = true;
            break;
        case 'a':
            Toggle(c.turnoff_ups);
            e.dirty = true;
            e.row = layout::kCfgTurnoffUps.row;
            e.col = layout::kCfgTurnoffUpsValueCol;
            break;
        case 'b':
            Select(e, layout::kCfgBattlow);
            break;
        case 'c':
            if (!snmp) StartLineEdit(e, kModeComport, layout::cw_p[layout::kCfgComport].row, true);
            break;
        case 'd':
            Select(e, layout::kCfgAcfail);
            break;
        case 'k':
            ToggleMode(c);
            e.dirty = true;
            e.row = layout::kCfgMonitoring.row;
            e.col = layout::kCfgMonitoringValueCol;
            break;
        case 'l':
            Toggle(c.schedule_on);
            e.dirty = true;
            e.row = layout::cw_p[layout::kCfgScheduling].row;
            e.col = layout::cw_p[layout::kCfgScheduling].col;
            break;
        case 'n':
            Toggle(c.countdown_on);
            e.dirty = true;
            e.row = layout::cw_p[layout::kCfgCountdown].row;
            e.col = layout::cw_p[layout::kCfgCountdown].col;
            break;
        case 'o':
            if (snmp) StartLineEdit(e, kModeCommunity, layout::kCfgCommunity.row, false);
            break;
        case 'p':
            if (snmp) StartLineEdit(e, kModeAgentIp, layout::kCfgAgentIp.row, false);
            break;
        case 'q':
            if (e.dirty) {
                e.dirty = false;
            } else {
                e.quit = true;
            }
            e.row = layout::cw_p[layout::kCfgQuit].row;
            e.col = layout::cw_p[layout::kCfgQuit].col;
            break;
        case 'r':
            e.clear_screen = true;
            break;
        case 's':
            Save(e, saver, overwrite);
            break;
        case 't':
            e.row = c.turnoff_ups == 1 ? layout::kCfgStartUpRow : layout::kCfgShutdownRow;
            e.col = layout::x_position[0];
            if (c.schedule_on == 1) {
                e.mode = kModeGrid;
                e.cell = 0;
            }
            break;
        case 'u':
            Select(e, layout::kCfgTurnoff);
            break;
        case 'v':
            Select(e, layout::kCfgRating);
            break;
        default:
            break;
    }
}

void ScreenFunc2(ConfigEditor& e, int key) {
    LineEdit(e, key);
}

void ScreenFunc4(ConfigEditor& e, int key) {
    LineEdit(e, key);
}

void ScreenFunc5(ConfigEditor& e, int key) {
    LineEdit(e, key);
}

void ScreenFunc3(ConfigEditor& e, int key) {
    if (IsUp(key) || IsDown(key)) {
        SchdlChange(e.schedule, key, e.cell, e.row);
        e.dirty = true;
    } else if (key == 'r' || key == 'C' || key == 'l' || key == 'D') {
        e.cell = (e.cell + ((key == 'r' || key == 'C') ? 1 : 13)) % 14;
        e.col = layout::x_position[static_cast<std::size_t>(e.cell)];
        e.message = kMsgNone;
    } else if (key == 'u' || key == 'd' || key == 'A' || key == 'B') {
        if (e.config.turnoff_ups == 1) {
            e.row =
                e.row == layout::kCfgStartUpRow ? layout::kCfgShutdownRow : layout::kCfgStartUpRow;
        } else {
            e.message = kMsgRebootHint;
        }
    } else if (IsEnter(key)) {
        if (ChkSchedule(e.config, e.schedule) == 1) {
            ToMainMode(e);
            e.cell = 0;
            e.message = kMsgNone;
        } else {
            e.message = kMsgTooClose;
        }
    }
}

void ConfigKey(ConfigEditor& e, int key, const ConfigSaver& saver) {
    switch (e.mode) {
        case kModeMain:
            ScreenFunc1(e, key, saver);
            break;
        case kModeComport:
            ScreenFunc2(e, key);
            break;
        case kModeGrid:
            ScreenFunc3(e, key);
            break;
        case kModeCommunity:
            ScreenFunc4(e, key);
            break;
        case kModeAgentIp:
            ScreenFunc5(e, key);
            break;
        default:
            break;
    }
}
