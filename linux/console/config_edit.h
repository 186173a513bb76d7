// The editing rules of `kelvora config`, apart from the screen: what each key does to the
// record, the schedule and the cursor. Nothing here draws or touches a file, so every rule can
// be run and checked on its own; the screen (config_screen.cpp) supplies the save.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config.h"

// Input modes.
inline constexpr int kModeMain = 1;
inline constexpr int kModeComport = 2;
inline constexpr int kModeGrid = 3;
inline constexpr int kModeCommunity = 4;
inline constexpr int kModeAgentIp = 5;

// Message states of the hint area.
inline constexpr int kMsgNone = 0;
inline constexpr int kMsgRebootHint = 1;
inline constexpr int kMsgTooClose = 2;

// How the last [s] ended.
enum class SaveOutcome { kNone, kSaved, kFailed, kChangedElsewhere };

struct ConfigEditor {
    UpsConfig config{};
    WeekSchedule schedule{};
    int mode = kModeMain;
    int row = 3;
    int col = 63;
    bool dirty = false;
    int cell = 0;  // grid cell: day = cell / 2, even the hour, odd the minute
    int message = kMsgNone;
    int rereads = 0;         // passes left that re-read the files after a save
    std::string saved_text;  // the line editor's value when the edit started
    int acfail_step = 1;
    SaveOutcome save = SaveOutcome::kNone;
    bool overwrite_armed = false;  // the warning of a foreign save was shown by the last key
    bool quit = false;
    bool clear_screen = false;
};

// What the main mode's [s] needs from outside: whether the files still hold what this screen
// read, the write of both files, and the message to the daemon and a status screen.
struct ConfigSaver {
    std::function<bool()> changed_elsewhere;
    std::function<int(const UpsConfig&, const WeekSchedule&)> write;  // 1 when both were written
    std::function<void()> announce;
};

// "Up" is + or i, "down" - or m; any other key changes nothing.
bool IsUp(int key);
bool IsDown(int key);

// Up adds `step` and wraps to `min` past `max`; down subtracts and wraps to `max` below `min`.
void ShortChange(int16_t& field, int key, int max, int min, int step);
void IntChange(int32_t& field, int key, int max, int min);
// 0.2 .. 0.9 by tenths, 1.0 .. 10.0 by whole minutes, wrapping at both ends.
void UPSOffChange(float& field, int key);
// The hour (even cell) or minute (odd cell) of the start-up (row 15) or shutdown (row 16) time
// of the cell's day; -1 is "not set" and lies between the top and the bottom of the range.
void SchdlChange(WeekSchedule& schedule, int key, int cell, int row);
// Steps the field of the cursor row.
void DoChange(ConfigEditor& editor, int key);
void ToggleMode(UpsConfig& config);
// 1 when no day starts up within the turn-off delay after its shutdown (fills in minutes the way
// the daemon reads them), 0 otherwise.
int ChkSchedule(const UpsConfig& config, WeekSchedule& schedule);

// Hand-edited files can hold what the screen can neither show in its columns nor step from:
// numbers are brought into the ranges the editor steps through (a time outside the day becomes
// "not set", a turn-off delay that is no number the default).
void BoundForEditor(UpsConfig& config, WeekSchedule& schedule);

// One key in each mode.
void ScreenFunc1(ConfigEditor& editor, int key, const ConfigSaver& saver);
void ScreenFunc2(ConfigEditor& editor, int key);
void ScreenFunc3(ConfigEditor& editor, int key);
void ScreenFunc4(ConfigEditor& editor, int key);
void ScreenFunc5(ConfigEditor& editor, int key);
// The handler of the editor's current mode.
void ConfigKey(ConfigEditor& editor, int key, const ConfigSaver& saver);
