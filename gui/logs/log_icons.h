// The small icons of the log dialogs, drawn here at 16 and 32 pixels so they stay crisp on
// high-density screens.
#pragma once

#include <QIcon>

namespace kelvora::panel {

// The event list's icons: 0 information, 1 warning, 2 error; a null icon otherwise.
QIcon EventTypeIcon(int index);

// The calendar's four event kinds, in the order of the cells' icon places and the legend.
enum CalendarKind { kCalAcFail, kCalBatteryLow, kCalShutdown, kCalSelfTest, kCalKindCount };
QIcon CalendarIcon(int kind);

}  // namespace kelvora::panel
