// The 24 fields of the configuration record by name, in record order, with the values each may
// take. The panel's dialog, upsrec and the agent all hold a record to these: whatever a client
// sends, nothing outside them is stored.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "config.h"

namespace ups {

struct ConfigField {
    std::string_view name;
    std::variant<std::int32_t CConfig::*, std::string CConfig::*> member;
    std::int64_t min = INT32_MIN;  // numbers
    std::int64_t max = INT32_MAX;
    std::size_t maxLength = 0xFFFFFFFF;  // strings
    std::string_view meaning;
};

std::span<const ConfigField> ConfigFields();
const ConfigField* FindConfigField(std::string_view name);

// The readable form of a number field's value, e.g. "COM1" for comPort 0; empty when plain.
std::string ConfigValueNote(const ConfigField& field, std::int32_t value);

// Why `config` cannot be stored ("acFailDelay 0 is outside 1..2880"), or empty when every field
// holds an accepted value.
std::string ConfigProblem(const CConfig& config);

}  // namespace ups
