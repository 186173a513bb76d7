// The serial reader's sense of time: how long it waits for a reply, and the pause between a
// command and its answer. Kept behind one seam so that tests can run the reader's three-second
// window and the protocol's one-second pause on a clock of their own instead of the wall's.
#pragma once

#include <chrono>

class SerialTiming {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~SerialTiming() = default;
    virtual Clock::time_point Now() = 0;
    // Waits up to `timeout` for `fd` to become readable; true when it is.
    virtual bool WaitReadable(int fd, std::chrono::milliseconds timeout) = 0;
    virtual void Sleep(std::chrono::milliseconds how_long) = 0;
};

// The timing in force: the real clock unless a test put another in place.
SerialTiming& CurrentSerialTiming();
// Puts `timing` in force (nullptr: the real clock again).
void UseSerialTiming(SerialTiming* timing);
