// The Q1 serial protocol as vornd speaks it and kelvora reads it back from the status files:
// every width, position and command text in one place.
#pragma once

#include <cstddef>
#include <string_view>

namespace q1 {

// A query the UPS answers with one line ending in a carriage return.
struct Query {
    std::string_view command;  // what is sent
    char lead;                 // the reply's first character
    std::size_t width;         // the whole reply, carriage return included
    std::string_view file;     // the status file under the root that carries the reply
    std::size_t file_width;    // how much of that file the console reads (it drops the last)
};

// > [Q1\r]
// < [(230.4 190.0 229.8 023 50.1 13.6 25.0 10000000\r]
//    0         1         2         3         4
//    01234567890123456789012345678901234567890123456
//    (input fault outpt lod freq batt temp UBKFYT..
//    U utility fail, B battery low, K boost/buck, F UPS failed, Y standby type (0 on-line),
//    T test in progress; the last two bits are not read.
inline constexpr Query kStatus{
    .command = "Q1\r", .lead = '(', .width = 47, .file = "kelvora.q1", .file_width = 48};

// > [I\r]
// < [#Stavlen         SIM-1000   1.0       \r]
//    0         1         2         3
//    012345678901234567890123456789012345678
//    #model text (37 characters) ..........
inline constexpr Query kModel{
    .command = "I\r", .lead = '#', .width = 39, .file = "kelvora.mdl", .file_width = 39};

// > [F\r]
// < [#230.0 004 24.00 50.0\r]
//    0         1         2
//    0123456789012345678901
//    #volts cur batts freq
inline constexpr Query kRating{
    .command = "F\r", .lead = '#', .width = 22, .file = "kelvora.rtg", .file_width = 22};

// The reader keeps at most this many characters; one more is an overflow.
inline constexpr std::size_t kReplyMax = 47;

// Status bits of the status reply, by character position.
inline constexpr std::size_t kBitsAt = 38;  // first of the eight bits
inline constexpr std::size_t kBitCount = 8;
inline constexpr std::size_t kUtilityFailBit = 38;
inline constexpr std::size_t kBatteryLowBit = 39;
inline constexpr std::size_t kBoostBuckBit = 40;
inline constexpr std::size_t kUpsFailedBit = 41;
inline constexpr std::size_t kStandbyBit = 42;
inline constexpr std::size_t kTestBit = 43;
// The characters the console splits a status reply on.
inline constexpr std::string_view kStatusSeparators = "( \r\n";
inline constexpr std::string_view kRatingSeparators = "# \r\n";

// Commands without a reply. The timed test ("T" and two digits) and the shut-down command ("S"
// with the delay, optionally "R" and the restart minutes) are built by the daemon.
inline constexpr std::string_view kTenSecondTest = "T\r";
inline constexpr std::string_view kTestUntilLow = "TL\r";
inline constexpr std::string_view kCancelTest = "CT\r";
inline constexpr std::string_view kCancelShutdown = "C\r";

}  // namespace q1
