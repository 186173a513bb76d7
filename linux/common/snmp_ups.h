// The daemon's use of a UPS's SNMP agent: the status poll that stands in for the serial status
// reply, and the UPS shut-down at the end of the shutdown sequence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A status reply the state machine reads like the serial one: 47 blanks but for the utility
// fail bit at 38 ("1" when the line voltage reads 0) and the battery low bit at 39 ("1" for
// battery status 3). A battery status that could not be read leaves its bit blank, which the
// state machine counts as neither low nor normal.
std::string SnmpPseudoReply(std::string_view line_voltage,
                            const std::optional<std::string>& battery_status);

// The SNMP status poll: 1 with `reply` filled, or -1 when the agent gave no line voltage. It
// does not wait: the caller paces its polls.
int S_GetStatus(std::string& reply);

// The UPS's shutdown delay for a turn-off delay in minutes, in whole seconds (0.2 gives 12).
// A delay like 0.7, which a float holds as 0.69999..., is 42 seconds and not 41; a negative
// or impossible delay gives 0.
long ShutdownDelaySeconds(float delay_minutes);

// Tells the UPS to switch its output off after the turn-off delay, or, for a scheduled shutdown
// with a restart time, to sleep for `restart_minutes` and come back; then closes the session.
// Opens a session first when none is open (the deadline may have passed while reconnecting).
void UPS_shutdown(float delay_minutes, int32_t restart_minutes, int scheduled);
