// Drawing the serial-mode status display from its record.
#pragma once

#include "screen_data.h"

struct DrawState {
    int flash = 0;  // blink phase: alarms are in standout on every other pass
};

// The whole display: frame, both panes, the model text and the key hint. The shutdown banner
// needs a live daemon (`daemon_present`) and an alarm or a scheduled shutdown close at hand.
void DrawScreen(ScreenData& data, int shutdown_flag, bool daemon_present, DrawState& state);
void DrawComportLeft(const ScreenData& data, int shutdown_flag, bool daemon_present,
                     DrawState& state);
void DrawComportRight(ScreenData& data);
void DrawLineBars(const ScreenData& data, float battery_level);
