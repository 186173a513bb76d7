// The UPS's serial device itself: opened the way every UPS needs it (8 data bits, no parity, one
// stop bit, raw, no flow control, stale bytes thrown away), waited on, read, written and
// flushed. Each platform has its own file for it; the rules of the link (replies, misses,
// reopening) stay in CRS232 above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace torvane {

class SerialPort {
  public:
    enum class Failure { kNone, kOpen, kSettings };

    // The port at `path`, or null with what failed and the system's error code.
    static std::unique_ptr<SerialPort> Open(const std::string& path, int baud, Failure& failure,
                                            int& code);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // True once input is there to read, or the line is gone (the next read says which); false
    // when `wait` ran out or the wait was interrupted.
    bool WaitReadable(std::chrono::milliseconds wait);
    // What has arrived, without waiting: the count, 0 when nothing is there, -1 when the line
    // is gone (a pulled adapter, a hung-up or failed device).
    int ReadSome(char* buffer, std::size_t size);
    // Writes what the port takes of `size` bytes without waiting long; false when the line is
    // gone.
    bool Write(const char* data, std::size_t size);
    // Throws away what waits to be read and, with `output`, what waits to be sent.
    void Flush(bool input, bool output);

  private:
    struct Handle;
    explicit SerialPort(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace torvane
