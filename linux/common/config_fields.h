// The eleven settings of UpsConfig, described once: where each sits in the binary image of
// vorn.ini, which line of kelvora.cfg carries it and how that line's value is read. The text
// file lists them in this order; the image places them by offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "config.h"

namespace config_fields {

// How a bracketed value of kelvora.cfg becomes a field.
enum class TextRule {
    kInteger,       // leading digits, no digits giving 0
    kTurnoffDelay,  // whole minutes drop their fraction; below one minute, tenths
    kWholeVolts,    // the integer part, as a float
    kText,          // copied, cut to 29 characters
};

using Member = std::variant<int16_t UpsConfig::*, int32_t UpsConfig::*, float UpsConfig::*,
                            char (UpsConfig::*)[30]>;

struct Field {
    Member member;
    std::size_t offset;  // in the 120-byte configuration image
    TextRule rule;
    const char* line;  // the kelvora.cfg line, a printf format for the value
};

// clang-format off
//  vorn.ini image (little-endian):
//   0 acfail_delay  i16 |  2 battlow_delay i16 |  4 turnoff_delay f32 |   8 battery_rating f32
//  12 comport  text[30] | 42 agent_ip text[30] | 72 community text[30] | 102 schedule_on i16
// 104 countdown_on  i16 | 106 padding          | 108 comm_mode   i32   | 112 turnoff_ups i32
// 116 reserved      i32 (written as 0, never read back into the text file)
inline constexpr std::array<Field, 11> kFields = {{
    {&UpsConfig::acfail_delay,     0, TextRule::kInteger,      "AC Fail Delay         ( 1 ... 1440 min. )  : [%d]\n"},
    {&UpsConfig::battlow_delay,    2, TextRule::kInteger,      "Batt Low Delay        ( 1 ... 10 min.   )  : [%d]\n"},
    {&UpsConfig::turnoff_delay,    4, TextRule::kTurnoffDelay, "Turn Off UPS Delay    ( 0.2 ... 10 min. )  : [%2.1f]\n"},
    {&UpsConfig::battery_rating,   8, TextRule::kWholeVolts,   "Battery Rating        ( 12.0 ... 96.0 v )  : [%2.1f]\n"},
    {&UpsConfig::comport,         12, TextRule::kText,         "UPS Comport           ( /dev/xxttyxx    )  : [%s]\n"},
    {&UpsConfig::turnoff_ups,    112, TextRule::kInteger,      "Turn Off UPS?         ( 0 - no, 1 - yes )  : [%d]\n"},
    {&UpsConfig::schedule_on,    102, TextRule::kInteger,      "Schedule Function     ( 0 - off, 1 - on )  : [%d]\n"},
    {&UpsConfig::countdown_on,   104, TextRule::kInteger,      "Countdown Function    ( 0 - off, 1 - on )  : [%d]\n"},
    {&UpsConfig::comm_mode,      108, TextRule::kInteger,      "Communication Mode    ( 0-Port, 1-SNMP  )  : [%d]\n"},
    {&UpsConfig::agent_ip,        42, TextRule::kText,         "SNMP IP Address       ( xxx.xxx.xxx.xxx )  : [%s]\n"},
    {&UpsConfig::community,       72, TextRule::kText,         "SNMP Community Name   ( e.g. gazers     )  : [%s]\n"},
}};
// clang-format on

inline constexpr std::size_t kReservedOffset = 116;

}  // namespace config_fields
