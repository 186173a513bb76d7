// The event log (vornlog under the root) and the time text every warning carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "file_util.h"

using LogFile = kelvora::FilePtr;

// True when the log can be opened for appending (checked once at start).
bool CheckLogFile();

// Opens the log for appending; empty when it cannot be opened.
LogFile OpenLogFile();

// The C library's 24-character ctime text with its newline, e.g. "Mon Dec  7 08:45:35 2026\n".
std::string TimeText(int64_t when);

// "message - time\n": the form of the log line and of the line on standard output.
std::string LogLine(std::string_view message, int64_t when);
