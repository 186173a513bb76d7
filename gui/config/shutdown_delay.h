// The rules the configuration dialog applies to the record as it shows and stores it: the UPS
// shutdown delay offered as a list of minutes but kept in seconds, the baud rate that goes with
// each serial UPS type, and which types use a serial port at all.
#pragma once

#include <QStringList>

#include "ups_lib/config.h"

namespace kelvora::panel {

// ".2" ... ".9" (tenths of a minute), then "1" ... "99".
inline constexpr int kDelayEntries = 107;
QStringList ShutdownDelayList();

// The seconds stored for a list entry; no selection (a negative index) stores 0, and an index
// past the list stores the last entry's seconds.
int DelayIndexToSeconds(int index);
// The list entry shown for a stored delay. The first eight entries cover the short delays in
// steps of six seconds; whole minutes round down, and anything past the list shows "99".
int DelaySecondsToIndex(int seconds);

// The serial UPS types run at a fixed speed; the others keep the record's.
void ApplyBaudRule(ups::CConfig& config);
// Only the serial UPS types need the port list; the demo and the USB UPS have no port.
bool SerialPortEnabled(int upsType);

}  // namespace kelvora::panel
