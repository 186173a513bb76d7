// The two kinds of log records: an event (what happened) and a data sample (the UPS readings).
#pragma once

#include <cstdint>

#include "serializable.h"

namespace ups {

class CEventLogRecord final : public Serializable {
  public:
    static constexpr std::size_t kBytes = 10;
    enum Type : std::uint16_t { kError = 1, kWarning = 2, kInformation = 4 };

    CEventLogRecord() = default;
    CEventLogRecord(std::uint32_t id, std::uint16_t ty, std::uint32_t t)
        : eventId(id), type(ty), time(t) {}
    CEventLogRecord(const CEventLogRecord&) = default;
    CEventLogRecord& operator=(const CEventLogRecord&) = default;

    const char* ClassName() const override { return "CEventLogRecord"; }
    void Serialize(Archive& ar) override;
    bool operator==(const CEventLogRecord& o) const {
        return eventId == o.eventId && type == o.type && time == o.time;
    }

    std::uint32_t eventId = 0;  // message id, 0x64..0x77
    std::uint16_t type = kInformation;
    std::uint32_t time = 0;  // seconds since 1970 UTC
};

class CDataLogRecord final : public Serializable {
  public:
    static constexpr std::size_t kBytes = 28;

    CDataLogRecord() = default;
    CDataLogRecord(const CDataLogRecord&) = default;
    CDataLogRecord& operator=(const CDataLogRecord&) = default;

    const char* ClassName() const override { return "CDataLogRecord"; }
    void Serialize(Archive& ar) override;
    bool operator==(const CDataLogRecord& o) const {
        return inputVoltage == o.inputVoltage && outputVoltage == o.outputVoltage &&
               load == o.load && batteryCapacity == o.batteryCapacity &&
               temperature == o.temperature && inputFrequency == o.inputFrequency && time == o.time;
    }

    std::int32_t inputVoltage = 0;     // tenths of a volt
    std::int32_t outputVoltage = 0;    // tenths of a volt
    std::int32_t load = 0;             // tenths of a percent
    std::int32_t batteryCapacity = 0;  // percent
    std::int32_t temperature = 0;      // tenths of a degree Celsius
    std::int32_t inputFrequency = 0;   // tenths of a hertz
    std::uint32_t time = 0;            // seconds since 1970 UTC
};

}  // namespace ups
