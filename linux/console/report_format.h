// The two printed forms of a status report: `key: value` lines for people and shell scripts,
// and one JSON object for programs. Both carry the same keys in the same order.
#pragma once

#include <string>
#include <string_view>

#include "status_report.h"

// `text` with every byte that is not part of valid UTF-8, and every control character, made
// U+FFFD: what a UPS sends as its model is whatever its firmware holds, and it must neither
// break a line nor reach a terminal as an escape sequence.
std::string CleanText(std::string_view text);

// `text` as a JSON string, quotes included: cleaned as above, quote and backslash escaped.
std::string JsonString(std::string_view text);

std::string ReportText(const StatusReport& report);
std::string ReportJson(const StatusReport& report);

// Calendar seconds as "2026-12-11T00:30:05Z".
std::string UtcTime(int64_t seconds);
