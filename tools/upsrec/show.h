// The readable and JSON forms of every record kind.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ups_lib/close_info.h"
#include "ups_lib/config.h"
#include "ups_lib/log_records.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"
#include "ups_lib/ups_records.h"

namespace upsrec {

nlohmann::ordered_json ConfigJson(const ups::CConfig& c);
nlohmann::ordered_json MsgTabJson(const ups::CMsgTab& m);
nlohmann::ordered_json ScheduleJson(const std::vector<ups::CScheduleDetail>& entries);
nlohmann::ordered_json EventLogJson(const std::vector<ups::CEventLogRecord>& records);
nlohmann::ordered_json DataLogJson(const std::vector<ups::CDataLogRecord>& records);
nlohmann::ordered_json CloseInfoJson(const ups::CCloseInfo& info);
nlohmann::ordered_json StatusJson(const ups::UPSStatusValues& v);
nlohmann::ordered_json BasicInfoJson(const ups::UPSBasicValues& v);
nlohmann::ordered_json RatingInfoJson(const ups::UPSRatingValues& v);

std::string ConfigText(const ups::CConfig& c);
std::string MsgTabText(const ups::CMsgTab& m);
std::string ScheduleText(const std::vector<ups::CScheduleDetail>& entries, std::int64_t now);
std::string EventLogText(const std::vector<ups::CEventLogRecord>& records);
std::string DataLogText(const std::vector<ups::CDataLogRecord>& records);
std::string CloseInfoText(const ups::CCloseInfo& info);
std::string StatusText(const ups::UPSStatusValues& v);
std::string BasicInfoText(const ups::UPSBasicValues& v);
std::string RatingInfoText(const ups::UPSRatingValues& v);

// Text in the agent's code page may not be UTF-8: JSON output replaces what cannot be shown.
std::string Dump(const nlohmann::ordered_json& j);

std::string_view ScheduleEventName(std::uint16_t event);
std::string_view FrequencyName(std::uint16_t frequency);
std::string_view NotifyKindName(int kind);

}  // namespace upsrec
