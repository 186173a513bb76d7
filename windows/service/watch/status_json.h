// The UPS as one JSON object: the agent's /status.json and the "ups" member of every webhook.
#pragma once

#include <cstddef>
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

// The length of the UTF-8 sequence that starts `text` at `at`, or 0 when there is none there (a
// stray continuation byte, an overlong form, a surrogate, a cut sequence).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

}  // namespace torvane::watch
