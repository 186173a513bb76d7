// Changing records from administrator input: FIELD=VALUE words and JSON documents in the form
// `upsrec show --json` prints. Every change is checked before anything is stored.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "ups_lib/config.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"

namespace upsrec {

void ApplyConfigJson(ups::CConfig& c, const nlohmann::ordered_json& j);
void ApplyConfigAssignment(ups::CConfig& c, std::string_view field, std::string_view value);

// Fields are textN, addressN, numberN, codeN for kind N (0-6).
void ApplyMsgTabJson(ups::CMsgTab& m, const nlohmann::ordered_json& j);
void ApplyMsgTabAssignment(ups::CMsgTab& m, std::string_view field, std::string_view value);

// JSON replaces the whole list; N.event, N.frequency, N.testLength, N.time change entry N (N equal
// to the count adds an entry); remove=N deletes one.
void ApplyScheduleJson(std::vector<ups::CScheduleDetail>& entries, const nlohmann::ordered_json& j);
void ApplyScheduleAssignment(std::vector<ups::CScheduleDetail>& entries, std::string_view field,
                             std::string_view value);

}  // namespace upsrec
