// The configuration record shared by vornd and kelvora, and its two files:
// vorn.ini (binary image of the record and the weekly schedule) and kelvora.cfg
// (the record as text, the one an administrator edits by hand).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Text fields hold at most this many characters plus a NUL.
inline constexpr std::size_t kConfigTextMax = 29;

struct UpsConfig {
    int16_t acfail_delay;   // minutes from an AC failure to system shutdown
    int16_t battlow_delay;  // minutes from a battery-low report to system shutdown
    float turnoff_delay;    // minutes between the UPS shut-down command and output off
    float battery_rating;   // nominal battery volts, display only
    char comport[30];       // serial device path of the UPS
    char agent_ip[30];      // dotted IPv4 address of the SNMP agent
    char community[30];     // SNMP community name
    int16_t schedule_on;    // weekly scheduled shutdown: 0 off, 1 on
    int16_t countdown_on;   // per-second countdown messages in the last 30 s
    int32_t comm_mode;      // 0 serial port, 1 SNMP agent
    int32_t turnoff_ups;    // 1: send the UPS shut-down command after system shutdown
    int32_t reserved;       // written as 0, never read
};

// -1 in an hour or minute means "not set".
struct ScheduleDay {
    int32_t restart_hour;
    int32_t restart_minute;
    int32_t shutdown_hour;
    int32_t shutdown_minute;
};

// Indexed by weekday as the C library numbers it: 0 Sunday .. 6 Saturday.
struct WeekSchedule {
    std::array<ScheduleDay, 7> day;
};

inline constexpr std::size_t kConfigImageSize = 120;
inline constexpr std::size_t kScheduleImageSize = 7 * 16;
inline constexpr std::size_t kIniFileSize = kConfigImageSize + kScheduleImageSize;  // 232

// The documented procedural interface (1 success, 0 failure).
void InitConfig(UpsConfig* config, WeekSchedule* schedule);
int ReadConfig(UpsConfig* config, WeekSchedule* schedule);
int WriteConfig(const UpsConfig* config, const WeekSchedule* schedule);
// Applies kelvora.cfg alone to the record: 1, or 0 when it cannot be opened.
int ApplyCfgFile(UpsConfig* config);

// Copies text into a fixed field, cut to kConfigTextMax characters, zero-filled behind.
void SetConfigText(char (&field)[30], std::string_view text);

// vorn.ini in memory: the 232 bytes, little-endian, field by field.
std::array<uint8_t, kIniFileSize> EncodeIni(const UpsConfig& config, const WeekSchedule& schedule);
// Decodes as many whole fields as `bytes` holds; fields past a short file keep their values,
// as a short read of the image would leave them.
void DecodeIni(std::span<const uint8_t> bytes, UpsConfig& config, WeekSchedule& schedule);

// kelvora.cfg in memory: the eleven lines.
std::string FormatCfgText(const UpsConfig& config);
// Applies the bracketed values of a kelvora.cfg text to the record; fields with no value left
// keep what they held.
void ApplyCfgText(std::string_view text, UpsConfig& config);
