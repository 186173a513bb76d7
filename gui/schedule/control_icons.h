// The pictures of the control dialog's six commands, each in a normal and a pressed state. The
// pressed one stays on screen while its question is asked, so the user sees which command is
// waiting for an answer.
#pragma once

#include <QPixmap>

namespace kelvora::panel {

enum ControlCommand {
    kControlTest10Seconds,
    kControlTestMinutes,
    kControlTestUntilLow,
    kControlCancelTest,
    kControlToggleBeeper,
    kControlShutDown,
    kControlCommandCount
};

inline constexpr int kControlIconSize = 32;

// The picture of a command 0..5 at kControlIconSize pixels (times the screen's pixel ratio);
// a null pixmap for anything else.
QPixmap ControlPicture(int command, bool pressed, qreal pixelRatio = 1.0);

}  // namespace kelvora::panel
