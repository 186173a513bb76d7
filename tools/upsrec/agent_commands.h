// `upsrec --agent HOST[:PORT] ...`: the records and commands of a running agent over its record
// link, in the same forms as the local commands.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ups_lib/link_message.h"
#include "ups_lib/ups_records.h"

namespace upsrec {

// What the agent has told about the UPS since the connection began: the state burst after the
// password and the changes it reports on its own. Unknown until said.
struct AgentState {
    std::optional<bool> connected;  // 19 / 20: the agent talks to the UPS
    std::optional<bool> utilityFailed;
    std::optional<bool> batteryLow;
    std::optional<bool> selfTest;
    std::optional<bool> upsFailed;
    std::optional<std::string> type;       // "standby" or "online"
    std::optional<std::string> boostBuck;  // "boost", "buck" or "none"
    std::optional<bool> bypass;
    std::optional<std::int32_t> countdown;  // seconds left of a shutdown countdown; 0 = stopped
    std::optional<ups::UPSStatusValues> status;
    std::optional<ups::UPSBasicValues> basicInfo;
    std::optional<ups::UPSRatingValues> ratingInfo;
};

// Takes what a message from the agent says about its state; other messages change nothing.
void ApplyToState(AgentState& state, const ups::link::Message& m);
nlohmann::ordered_json StateJson(const AgentState& state);
std::string StateText(const AgentState& state);

// Runs the words after "upsrec" (args[0] == "--agent"); the output is appended to `out`.
// Failures throw Failure.
int RunAgent(const std::vector<std::string>& args, std::string& out);

}  // namespace upsrec
