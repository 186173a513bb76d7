// The events a UDP event client hears of, one bit each: what the frame's reactions set and the
// datagrams carry as their first value.
#pragma once

namespace torvane {

enum UdpEventBit : int {
    kUdpBitAcFail = 1,
    kUdpBitAcRestored = 2,
    kUdpBitBatteryLow = 4,
    kUdpBitBatteryRecovered = 8,
    kUdpBitScheduledShutdown = 16,
    kUdpBitScheduleCancelled = 32,
    kUdpBitCountdown = 64,  // goes out with the countdown's seconds
    kUdpBitCountdownStopped = 128,
};

}  // namespace torvane
