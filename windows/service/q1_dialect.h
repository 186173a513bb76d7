// The Q1 dialect as the agent speaks it over a serial, demo or USB link: every command text and
// every reply layout in one table, and the parsers that turn a whole reply into a record's values.
// A reply that does not match its layout to the byte changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ups_lib/ups_records.h"

namespace torvane::q1 {

// Commands. The UPS answers only the three queries; the others are obeyed silently.
inline constexpr std::string_view kStatusQuery = "Q1\r";
inline constexpr std::string_view kRatingQuery = "F\r";
inline constexpr std::string_view kBasicQuery = "I\r";
inline constexpr std::string_view kTenSecondTest = "T\r";
inline constexpr std::string_view kTestUntilLow = "TL\r";
inline constexpr const char* kTimedTestFormat = "T%02d\r";  // 01..99 minutes
inline constexpr std::string_view kCancelTest = "CT\r";
inline constexpr std::string_view kToggleBeeper = "Q\r";
// Shut down after nn minutes, or after .n of a minute (built from "%.1f" with the leading digit
// overwritten by "S"), optionally restoring power rrrr minutes later: S..R....\r
inline constexpr const char* kShutdownMinutesFormat = "S%02d\r";
inline constexpr const char* kShutdownMinutesRestoreFormat = "S%02dR%04d\r";
inline constexpr const char* kShutdownFractionFormat = "%.1f\r";
inline constexpr const char* kShutdownFractionRestoreFormat = "%.1fR%04d\r";

// A number field: its columns and the factor it is stored with.
struct NumberField {
    std::size_t at;
    std::size_t width;
    std::int32_t scale;
};

// One reply: its lead character, its whole width (carriage return included) and the columns that
// must hold a single space.
struct Layout {
    char lead;
    std::size_t width;
    std::size_t spaces[7];
    std::size_t spaceCount;
    std::size_t CarriageReturnAt() const { return width - 1; }
};

// > [Q1\r]
// < [(230.0 230.0 230.0 021 50.0 2.25 25.0 00001000\r]
//    0         1         2         3         4
//    01234567890123456789012345678901234567890123456
//    (input fault outpt lod freq batt temp UBKFYTSE
//    bits, bit 7 first: Utility fail, Battery low, boost/buck or bypass (K), UPS Failed,
//    standbY type (0 on-line), Test running, Shutdown active, bEeper on
inline constexpr Layout kStatusLayout{
    .lead = '(', .width = 47, .spaces = {6, 12, 18, 22, 27, 32, 37}, .spaceCount = 7};
inline constexpr NumberField kInputVoltage{.at = 1, .width = 5, .scale = 10};
inline constexpr NumberField kInputFaultVoltage{.at = 7, .width = 5, .scale = 10};
inline constexpr NumberField kOutputVoltage{.at = 13, .width = 5, .scale = 10};
inline constexpr NumberField kLoad{.at = 19, .width = 3, .scale = 10};
inline constexpr NumberField kFrequency{.at = 23, .width = 4, .scale = 10};
inline constexpr NumberField kBatteryVoltage{.at = 28, .width = 4, .scale = 100};
inline constexpr NumberField kTemperature{.at = 33, .width = 4, .scale = 10};
inline constexpr std::size_t kStatusBitsAt = 38;
inline constexpr std::size_t kStatusBitCount = 8;

// > [I\r]
// < [#Stavlen         SIM-1000   1.0       \r]
//    0         1         2         3
//    012345678901234567890123456789012345678
//    #company-------- model----- version---
inline constexpr Layout kBasicLayout{.lead = '#', .width = 39, .spaces = {16, 27}, .spaceCount = 2};
struct TextField {
    std::size_t at;
    std::size_t width;
};
inline constexpr TextField kCompany{.at = 1, .width = 15};
inline constexpr TextField kModel{.at = 17, .width = 10};
inline constexpr TextField kVersion{.at = 28, .width = 10};

// > [F\r]
// < [#230.0 004 24.00 50.0\r]
//    0         1         2
//    0123456789012345678901
//    #volts cur batts freq
inline constexpr Layout kRatingLayout{
    .lead = '#', .width = 22, .spaces = {6, 10, 16}, .spaceCount = 3};
inline constexpr NumberField kRatedVoltage{.at = 1, .width = 5, .scale = 10};
inline constexpr NumberField kRatedCurrent{.at = 7, .width = 3, .scale = 10};
inline constexpr NumberField kRatedBatteryVoltage{.at = 11, .width = 5, .scale = 100};
inline constexpr NumberField kRatedFrequency{.at = 17, .width = 4, .scale = 10};

// The link hands over at most this many bytes per reply.
inline constexpr std::size_t kReplyBufferSize = 200;

// What a reply looks like by its first character and where its carriage return sits; only the
// parser decides whether it is whole.
enum class ReplyKind { kNone, kStatus, kBasicInfo, kRatingInfo };
ReplyKind ClassifyReply(std::string_view reply);

// A decimal with at most one point, digits only, scaled and truncated toward zero without going
// through floating point (2.27 V is 227, not 226). Nothing for an empty field or any other
// character.
std::optional<std::int32_t> ParseNumber(std::string_view field, std::int32_t scale);

// The parsers take the reply exactly as read. They accept only the whole layout: the lead, the
// spaces, the carriage return as the last byte, and valid characters in every field. The status
// parser leaves batteryCapacity at 0: it is worked out from the parsed values afterwards.
std::optional<ups::UPSStatusValues> ParseStatus(std::string_view reply);
std::optional<ups::UPSBasicValues> ParseBasicInfo(std::string_view reply);
std::optional<ups::UPSRatingValues> ParseRatingInfo(std::string_view reply);

// The same, written into the record only on success. The status record keeps its battery
// capacity until the caller stores the new one.
bool ParseStatus(std::string_view reply, ups::CUPSStatus& record);
bool ParseBasicInfo(std::string_view reply, ups::CUPSBasicInfo& record);
bool ParseRatingInfo(std::string_view reply, ups::CUPSRatingInfo& record);

}  // namespace torvane::q1
