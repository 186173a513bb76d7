// The icons of the panel's icon bar and of the program, drawn at 32 and 64 pixels so they are
// sharp on ordinary and high-density screens alike.
#pragma once

#include <QIcon>

namespace kelvora::gui {

// The icon bar's items, in their order on the bar.
enum BarItem {
    kBarSelectUps,
    kBarSettings,
    kBarSchedule,
    kBarDataLog,
    kBarEventLog,
    kBarCalendar,
    kBarControl,
    kBarShutdownFiles,
    kBarAbout,
    kBarExit,
    kBarItemCount
};

// The icon for an item 0..9; a null icon for anything else.
QIcon BarIcon(int item);
// The program's icon: a UPS battery with its plug.
QIcon AppIcon();

}  // namespace kelvora::gui
