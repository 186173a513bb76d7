#include "snmp_ups.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "q1_protocol.h"
#include "snmp_access.h"
#include "snmp_objects.h"

namespace {

constexpr std::size_t kPseudoReplyLength = 47;
constexpr long kDoIt = 2;  // what the UPS's command objects take for "now"

long Number(std::string_view text) {
    return std::strtol(std::string(text).c_str(), nullptr, 10);
}

void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

bool Set(snmp::Obj object, long value) {
    int result = 0;
    UPS_setvalue(snmp::Oid(object), value, result);
    return result != 0;
}

}  // namespace

std::string SnmpPseudoReply(std::string_view line_voltage,
                            const std::optional<std::string>& battery_status) {
    std::string reply(kPseudoReplyLength, ' ');
    reply[q1::kUtilityFailBit] = Number(line_voltage) != 0 ? '0' : '1';
    if (battery_status) reply[q1::kBatteryLowBit] = Number(*battery_status) == 3 ? '1' : '0';
    return reply;
}

int S_GetStatus(std::string& reply) {
    std::string line = "blank";
    if (UPS_getvalue(line, snmp::Oid(snmp::kLineVoltage)) != 0 || line == "blank") return -1;
    std::string battery;
    std::optional<std::string> status;
    if (UPS_getvalue(battery, snmp::Oid(snmp::kBatteryStatus)) == 0) status = battery;
    reply = SnmpPseudoReply(line, status);
    return 1;
}

long ShutdownDelaySeconds(float delay_minutes) {
    // Truncated to whole seconds, but not below what the float meant to hold.
    const double seconds = std::floor(static_cast<double>(delay_minutes) * 60.0 + 1e-3);
    if (!(seconds > 0)) return 0;  // negative, zero or NaN
    return seconds < 1e9 ? static_cast<long>(seconds) : 1000000000L;
}

void UPS_shutdown(float delay_minutes, int32_t restart_minutes, int scheduled) {
    if (!UPS_is_open()) UPS_open();
    Set(snmp::kShutdownDelay, ShutdownDelaySeconds(delay_minutes));
    if (static_cast<int64_t>(restart_minutes) * scheduled < 1) {
        Say("No restart time !\n");
        if (!Set(snmp::kTurnOff, kDoIt)) Say("failed to issue UPS off command\n");
    } else {
        std::printf("put ups to sleep %d\n", static_cast<int>(restart_minutes));
        if (!Set(snmp::kSleepTime, restart_minutes)) Say("failed to configure ups sleep time\n");
        if (!Set(snmp::kSleep, kDoIt)) Say("failed to issue UPS sleep command\n");
    }
    UPS_close();
}
