// The UPS as one JSON object: the agent's /status.json and the "ups" member of every webhook.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "watch/ups_snapshot.h"

namespace torvane::watch {

// `now`: calendar seconds, for the agent's up time. Voltages, frequencies and the rest are
// numbers in their units (230.4, not 2304); a value the UPS has not sent yet is null.
std::string StatusJson(const UpsSnapshot& ups, std::int64_t now);

// `text` as a JSON string, quotes included; bytes that are not UTF-8 become U+FFFD, as a UPS's
// model text is whatever its firmware sends.
std::string JsonString(std::string_view text);

}  // namespace torvane::watch
