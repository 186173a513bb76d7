// What the agent knows about the UPS: the live status, the identification and the rating.
// The UPS thread writes them while the link and the panel's refresh read them, so each record
// guards its values with its own lock and hands out copies.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "serializable.h"

namespace ups {

struct UPSStatusValues {
    std::string rawLine;            // the whole reply as received
    std::int32_t inputVoltage = 0;  // volts x 10
    std::int32_t inputFaultVoltage = 0;
    std::int32_t outputVoltage = 0;
    std::int32_t load = 0;             // percent x 10
    std::int32_t inputFrequency = 0;   // hertz x 10
    std::int32_t batteryVoltage = 0;   // volts x 100
    std::int32_t temperature = 0;      // degrees Celsius x 10
    std::int32_t batteryCapacity = 0;  // percent
    std::uint8_t status = 0;           // the status bits below
    bool operator==(const UPSStatusValues&) const = default;
};

// Status bits.
enum UPSStatusBit : std::uint8_t {
    kBeeperOn = 1 << 0,
    kShutdownActive = 1 << 1,
    kSelfTestRunning = 1 << 2,
    kStandbyType = 1 << 3,
    kUpsFailed = 1 << 4,
    kBoostBuckBypass = 1 << 5,
    kBatteryLowBit = 1 << 6,
    kUtilityFail = 1 << 7,
};

struct UPSBasicValues {
    std::string rawLine;
    std::string company;  // 15 characters
    std::string model;    // 10 characters
    std::string version;  // 10 characters
    bool operator==(const UPSBasicValues&) const = default;
};

struct UPSRatingValues {
    std::string rawLine;
    std::int32_t voltage = 0;         // volts x 10
    std::int32_t current = 0;         // amperes x 10
    std::int32_t batteryVoltage = 0;  // volts x 100
    std::int32_t frequency = 0;       // hertz x 10
    bool operator==(const UPSRatingValues&) const = default;
};

// A serialisable record around one of the value sets above, with its lock.
template <typename Values>
class LockedRecord : public Serializable {
  public:
    LockedRecord() = default;
    LockedRecord(const LockedRecord& o) : Serializable(o), values_(o.Get()) {}
    LockedRecord& operator=(const LockedRecord& o) {
        if (this != &o) Set(o.Get());
        return *this;
    }

    Values Get() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    void Set(const Values& v) {
        std::lock_guard lock(mutex_);
        values_ = v;
    }
    void Serialize(Archive& ar) override {
        std::lock_guard lock(mutex_);
        SerializeValues(ar, values_);
    }

  protected:
    virtual void SerializeValues(Archive& ar, Values& v) = 0;

  private:
    mutable std::mutex mutex_;
    Values values_;
};

// The eight numbers from input voltage to battery capacity, the status byte, the raw line.
class CUPSStatus final : public LockedRecord<UPSStatusValues> {
  public:
    const char* ClassName() const override { return "CUPSStatus"; }

  private:
    void SerializeValues(Archive& ar, UPSStatusValues& v) override;
};

// Company, model, version, raw line.
class CUPSBasicInfo final : public LockedRecord<UPSBasicValues> {
  public:
    const char* ClassName() const override { return "CUPSBasicInfo"; }

  private:
    void SerializeValues(Archive& ar, UPSBasicValues& v) override;
};

// The four rated values, then the raw line.
class CUPSRatingInfo final : public LockedRecord<UPSRatingValues> {
  public:
    const char* ClassName() const override { return "CUPSRatingInfo"; }

  private:
    void SerializeValues(Archive& ar, UPSRatingValues& v) override;
};

}  // namespace ups
