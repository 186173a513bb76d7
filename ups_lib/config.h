// The agent's configuration record, registry value "config". Field order is the byte layout:
// 21 numbers of 4 bytes and three strings (87 bytes with the defaults).
#pragma once

#include <cstdint>
#include <string>

#include "reg_serial.h"

namespace ups {

class CConfig final : public CRegSerial {
  public:
    // The UPS types the agent can speak to.
    enum UpsType : std::int32_t { kStavlen = 0, kDemo = 1, kStavUsb = 2, kSec24 = 3, kSec96 = 4 };
    static constexpr std::int32_t kNoPort = 4;
    static constexpr std::size_t kMaxProgramLength = 300;

    CConfig() : CRegSerial(kAgentKey, "config") {}
    CConfig(const CConfig&) = default;
    CConfig& operator=(const CConfig&) = default;

    const char* ClassName() const override { return "CConfig"; }
    void Serialize(Archive& ar) override;

    bool operator==(const CConfig& o) const;

    std::int32_t upsType = kStavlen;
    std::int32_t comPort = kNoPort;  // 0..3 = COM1..COM4, 4 = none
    std::int32_t baudRate = 2400;
    std::int32_t reserved1 = 0;
    std::int32_t dataLogOn = 0;
    std::int32_t dataLogInterval = 30;  // seconds
    std::int32_t acFailDelay = 10;      // minutes
    std::int32_t batteryLowDelay = 1;   // minutes
    std::int32_t upsOffDelay = 120;     // seconds
    std::int32_t runProgram = 0;
    std::string programCmdLine;
    std::int32_t reserved2 = 0;
    std::int32_t scheduleWarnTime = 30;  // minutes
    std::int32_t closeApps = 1;
    std::int32_t shutdownWindows = 1;
    std::int32_t showWarnings = 0;
    std::int32_t warnRepeat = 30;  // seconds
    std::int32_t emailOn = 0;
    std::int32_t pagerOn = 0;
    std::string mailServer;
    std::int32_t pagerPort = 1;  // 0..3 = COM1..COM4
    std::string agentPassword;
    std::int32_t turnUpsOff = 1;
    std::int32_t showLastShutdown = 1;
};

}  // namespace ups
