// The routines every console screen shares: terminal set-up, the key clock, the frame and the
// checked text output.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "screen_layout.h"

// Starts curses (once per process), takes character-at-a-time input without echo, gives reads
// a 2-second time-out and makes the screen deaf to SIGHUP, SIGINT, SIGQUIT and SIGTERM.
void InitScreen();
// Ends curses if it is running; safe to call more than once.
void EndScreen();
// The four signals get a handler that does nothing, so they neither end nor disturb a screen.
void SetSignals();
// Waits up to 1.3 s for a key, then reads one (the terminal's read time-out may add up to 2 s);
// the key code or -1. DEL comes back as 8, so both erase keys act as backspace.
// When the terminal is gone (hung up, or input that is no terminal), 'q'.
int GetCH();
// Whether GetCH found the terminal gone; a screen loop that does not end on 'q' ends on this.
bool InputGone();

// Writes `text` at (row, col), in standout when asked. Positions outside the screen are
// ignored and text is cut at the right edge, so nothing ever wraps onto the next row.
void PutText(int row, int col, std::string_view text, bool standout = false);
void PutBlanks(int row, int col, int count);
// Ends at column `right` - 1.
void PutRightAligned(int row, int right, std::string_view text);

// "%04d-%02d-%02d, %02d:%02d %s" of the local time with the WeekDay abbreviation.
std::string ClockText(std::time_t now);
// "title Ver. 2.1" at (0, 1) and the clock on row 1, ending just before `clock_right`.
void ScreenHeading(std::string_view title, int clock_right);

void DrawBox(int height, int width, int top, int left);
// Type 1: one frame over the full width; type 2: two panes side by side. Then the title, the
// clock and the system footer.
void BasicScreen(int type, std::string_view title = layout::kStatusTitle);
// Blanks rows 2 to 21 from column 1 to the end of the line.
void BlankScreen();

// "Sun." .. "Sat." for 0 to 6; `otherwise` for any other day.
std::string_view WeekDay(int day, std::string_view otherwise = {});

// "%s[%s]" of the operating-system name and the node name, read once.
const std::string& SystemText();
