// Small text checks and edits the status displays apply to the values they show.
#pragma once

#include <string>
#include <string_view>

// 1 when the text is digits, one ".", digits ("12.00", ".5", "12."); 0 otherwise (empty, ".",
// no ".", a sign or a blank).
int ChkFloat(std::string_view text);
// 1 when every character is a digit; an empty text counts as 1.
int ChkInt(std::string_view text);
// From the left, each "0" followed by a digit becomes a blank ("003" -> "  3", "0.5" stays).
void RpLeadingZeros(std::string& text);
std::string RpLeadingZeros(std::string_view text);
// Drops the leading blanks.
void RmLeadingSpace(std::string& text);
int CutToRange(int value, int low, int high);
// Cells of a bar for n: n + 1, none when n < 0, never more than `limit`.
int BarCells(int n, int limit);
// A bar of n + 1 blanks (none when n < 0), never longer than `limit` cells.
std::string MakeBar(int n, int limit);

// The whole part of a text that passed ChkFloat, saturated at a value no reading reaches so
// that no conversion can overflow.
int WholePart(std::string_view number);
// Leading decimal digits as an int, saturated the same way (0 when there are none).
int LeadingInt(std::string_view text);
// Printable ASCII only: anything else becomes a blank, so stray bytes in a file can never move
// the cursor or change the terminal's state.
std::string Printable(std::string_view text);
