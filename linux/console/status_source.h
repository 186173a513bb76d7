// Reading the three files the daemon rewrites after every poll into the status screen's record.
#pragma once

#include <string>

#include "screen_data.h"

// Each returns 1 with the text read (its last character, the carriage return, dropped), or -1
// when the file is missing or empty. Reads are bounded by the reply widths.
int GetQ1fromTextFile(std::string& line);
int GetModelfromTextFile(std::string& line);
int GetRatingfromTextFile(std::string& line);

// One pass: every reading to "N/A", then the status line, and after a good one the model and
// rating. A missing or empty status file adds 1 to `failures`; a good one resets it.
void GetData(ScreenData& data, int& failures);
