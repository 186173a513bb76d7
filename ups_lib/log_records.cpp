#include "log_records.h"

namespace ups {

void CEventLogRecord::Serialize(Archive& ar) {
    ar.Field(eventId);
    ar.Field(type);
    ar.Field(time);
}

void CDataLogRecord::Serialize(Archive& ar) {
    ar.Field(inputVoltage);
    ar.Field(outputVoltage);
    ar.Field(load);
    ar.Field(batteryCapacity);
    ar.Field(temperature);
    ar.Field(inputFrequency);
    ar.Field(time);
}

}  // namespace ups
