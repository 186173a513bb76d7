// The codes of the record link between the agent and its control panels (TCP port 2570 and the
// local copy-data link). A message is a 32-bit little-endian code, then at most one archived
// record or one 32-bit number. The same number means the same thing in both directions where
// both exist.
#pragma once

#include <cstdint>

namespace ups::link {

enum Code : std::int32_t {
    kPassword = 1,            // client: TCP password (string); local: register
    kGoodbye = 2,             // client: drop me
    kGetConfig = 3,           // client
    kConfig = 4,              // both: the configuration record
    kGetMsgTab = 5,           // client
    kMsgTab = 6,              // both: the notification record
    kGetEventLog = 7,         // client
    kEventLog = 8,            // agent
    kClearEventLog = 9,       // client
    kGetSchedule = 10,        // client
    kSchedule = 11,           // both
    kGetDataLog = 12,         // client
    kDataLog = 13,            // agent
    kClearDataLog = 14,       // client
    kStatus = 15,             // agent: CUPSStatus
    kBasicInfo = 16,          // agent: CUPSBasicInfo
    kRatingInfo = 17,         // agent: CUPSRatingInfo
    kToggleBeeper = 18,       // client
    kConnected = 19,          // agent
    kNotConnected = 20,       // agent
    kTestRunning = 21,        // agent
    kTestFinished = 22,       // agent
    kUtilityFailed = 23,      // agent
    kUtilityRestored = 24,    // agent
    kBatteryLow = 25,         // agent
    kBatteryLowCleared = 26,  // agent
    kCountdown = 27,          // agent, then the seconds (int32)
    kCountdownStopped = 28,   // agent
    kTest10s = 29,            // client
    kTestToLow = 30,          // client
    kTestMinutes = 31,        // client, then the minutes (int32)
    kCancelTest = 32,         // client
    kUpsFailure = 33,         // agent
    kUpsGood = 34,            // agent
    kStandbyType = 35,        // agent
    kOnlineType = 36,         // agent
    kBoosting = 37,           // agent
    kBucking = 38,            // agent
    kNoBoostBuck = 39,        // agent
    kOnBypass = 40,           // agent
    kNotOnBypass = 41,        // agent
    kCloseInfo = 44,          // client: request; agent: the close-application list
    kCloseAndShutDown = 45,   // client
    kWrongPassword = 46,      // agent, TCP only, just before it drops the connection
};

inline constexpr std::uint16_t kDefaultTcpPort = 2570;
inline constexpr std::uint16_t kDefaultUdpPort = 2571;

}  // namespace ups::link
