#include "ups_records.h"

namespace ups {

void CUPSStatus::SerializeValues(Archive& ar, UPSStatusValues& v) {
    ar.Field(v.inputVoltage);
    ar.Field(v.inputFaultVoltage);
    ar.Field(v.outputVoltage);
    ar.Field(v.load);
    ar.Field(v.inputFrequency);
    ar.Field(v.batteryVoltage);
    ar.Field(v.temperature);
    ar.Field(v.batteryCapacity);
    ar.Field(v.status);
    ar.Field(v.rawLine);
}

void CUPSBasicInfo::SerializeValues(Archive& ar, UPSBasicValues& v) {
    ar.Field(v.company);
    ar.Field(v.model);
    ar.Field(v.version);
    ar.Field(v.rawLine);
}

void CUPSRatingInfo::SerializeValues(Archive& ar, UPSRatingValues& v) {
    ar.Field(v.voltage);
    ar.Field(v.current);
    ar.Field(v.batteryVoltage);
    ar.Field(v.frequency);
    ar.Field(v.rawLine);
}

}  // namespace ups
