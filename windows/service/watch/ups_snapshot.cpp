#include "watch/ups_snapshot.h"

namespace torvane::watch {

std::string_view EventName(EventKind kind) {
    switch (kind) {
        case EventKind::kUtilityFailure:
            return "utility_failure";
        case EventKind::kBatteryLow:
            return "battery_low";
        case EventKind::kUtilityRestored:
            return "utility_restored";
        case EventKind::kBatteryRecovered:
            return "battery_recovered";
        case EventKind::kScheduledShutdown:
            return "scheduled_shutdown";
        case EventKind::kScheduleCancelled:
            return "schedule_cancelled";
        case EventKind::kUpsFailure:
            return "ups_failure";
        case EventKind::kSystemShutdown:
            return "system_shutdown";
        case EventKind::kTest:
            return "test";
    }
    return "unknown";
}

std::string StatusWords(const UpsSnapshot& ups) {
    if (!ups.connected) return ups.forcedShutdown ? "FSD" : "";
    std::string words;
    auto add = [&words](std::string_view word) {
        if (!words.empty()) words += ' ';
        words += word;
    };
    if (ups.forcedShutdown) add("FSD");
    add(ups.acFail ? "OB" : "OL");
    if (ups.batteryLow) add("LB");
    if (ups.selfTest) add("CAL");
    if (ups.boost) add("BOOST");
    if (ups.buck) add("TRIM");
    if (ups.bypass) add("BYPASS");
    if (ups.upsOff) add("OFF");
    return words;
}

}  // namespace torvane::watch
