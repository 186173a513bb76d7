// CRS232: the UPS's serial port. A reader thread of its own watches the line and tells the UPS
// object when a reply is complete (the event character arrived, or in the polled mode a SEC reply
// is there), when nothing came within the wait, and when the UPS fell silent. A port that dies
// under it (a pulled USB adapter, a hang-up) is closed and opened again, once a second, until
// the link is closed.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "comm_link.h"
#include "serial_port.h"

namespace torvane {

// The device behind a COM port index: 0..8 name COM1..COM9, found in $TORVANE_COM1 ..
// $TORVANE_COM9, by default /dev/ttyS0 .. /dev/ttyS8 (on Windows the ports themselves,
// \\.\COM1 ..). Empty for any other index.
std::string ComPortPath(int index);
// "COM1".."COM9", or empty.
std::string ComPortName(int index);

class CRS232 final : public CCommLink {
  public:
    CRS232() = default;
    ~CRS232() override;

    int Read(char* buffer, int maxBytes) override;
    int Write(const char* text) override;
    void Close() override;
    void SetEventChar(char c) override;
    void SetWriteSignal(int flag) override;

    // Opens COM(index + 1) at `baudRate` and starts the reader; on failure the owner hears
    // kCommOpenFailed and the system log shows "Open COM Error!".
    void Open(int portIndex, int baudRate);
    // Flags as the port takes them: 4 transmit, 8 receive (both may be given).
    void Purge(int flags);

    bool IsOpen() const;
    bool IsConnected() const;

    static constexpr int kPurgeTransmit = 4;
    static constexpr int kPurgeReceive = 8;

  private:
    struct Port;
    void ReaderLoop(std::stop_token stop);
    bool EventModeRound(const std::stop_token& stop);
    bool PolledModeRound(const std::stop_token& stop);
    void CountMiss();
    void MarkConnected();
    void LineLost();
    bool Reopen();

    std::mutex writeMutex_;
    std::mutex readMutex_;
    // The device, its settings and what the reader has taken off the line, under readMutex_
    // (and writeMutex_ for the port itself when it is replaced).
    std::unique_ptr<SerialPort> port_;
    std::string path_;
    std::string name_;
    int baud_ = 2400;
    std::string pending_;
    char eventChar_ = '\r';
    std::atomic<bool> open_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> lost_{false};
    int misses_ = 0;           // the reader's own count, in its thread only
    bool openFailed_ = false;  // the last Open failed (its alert is not repeated)
    std::chrono::steady_clock::time_point lastReopen_{};
    platform::Event wake_{platform::Event::Mode::kManualReset};
    std::jthread reader_;
};

}  // namespace torvane
