// The 24 fields of the configuration record by name, in record order, with the values each may
// take when an administrator sets it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "ups_lib/config.h"

namespace upsrec {

struct ConfigField {
    std::string_view name;
    std::variant<std::int32_t ups::CConfig::*, std::string ups::CConfig::*> member;
    std::int64_t min = INT32_MIN;  // numbers
    std::int64_t max = INT32_MAX;
    std::size_t maxLength = 0xFFFFFFFF;  // strings
    std::string_view meaning;
};

std::span<const ConfigField> ConfigFields();
const ConfigField* FindConfigField(std::string_view name);

// The readable form of a number field's value, e.g. "COM1" for comPort 0; empty when plain.
std::string ConfigValueNote(const ConfigField& field, std::int32_t value);

}  // namespace upsrec
