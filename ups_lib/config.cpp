#include "config.h"

namespace ups {

void CConfig::Serialize(Archive& ar) {
    ar.Field(upsType);
    ar.Field(comPort);
    ar.Field(baudRate);
    ar.Field(reserved1);
    ar.Field(dataLogOn);
    ar.Field(dataLogInterval);
    ar.Field(acFailDelay);
    ar.Field(batteryLowDelay);
    ar.Field(upsOffDelay);
    ar.Field(runProgram);
    ar.Field(programCmdLine);
    ar.Field(reserved2);
    ar.Field(scheduleWarnTime);
    ar.Field(closeApps);
    ar.Field(shutdownWindows);
    ar.Field(showWarnings);
    ar.Field(warnRepeat);
    ar.Field(emailOn);
    ar.Field(pagerOn);
    ar.Field(mailServer);
    ar.Field(pagerPort);
    ar.Field(agentPassword);
    ar.Field(turnUpsOff);
    ar.Field(showLastShutdown);
}

bool CConfig::operator==(const CConfig& o) const {
    // The location is where the record lives, not part of its value.
    return upsType == o.upsType && comPort == o.comPort && baudRate == o.baudRate &&
           reserved1 == o.reserved1 && dataLogOn == o.dataLogOn &&
           dataLogInterval == o.dataLogInterval && acFailDelay == o.acFailDelay &&
           batteryLowDelay == o.batteryLowDelay && upsOffDelay == o.upsOffDelay &&
           runProgram == o.runProgram && programCmdLine == o.programCmdLine &&
           reserved2 == o.reserved2 && scheduleWarnTime == o.scheduleWarnTime &&
           closeApps == o.closeApps && shutdownWindows == o.shutdownWindows &&
           showWarnings == o.showWarnings && warnRepeat == o.warnRepeat && emailOn == o.emailOn &&
           pagerOn == o.pagerOn && mailServer == o.mailServer && pagerPort == o.pagerPort &&
           agentPassword == o.agentPassword && turnUpsOff == o.turnUpsOff &&
           showLastShutdown == o.showLastShutdown;
}

}  // namespace ups
