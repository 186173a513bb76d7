// `kelvora config`: the full-screen editor of the configuration record and the weekly schedule.
#pragma once

#include "config_edit.h"

// The sub-command; 0 when the user quits.
int vornii_config();

// Draws the whole screen for the editor's state, cursor last.
void DrawString(const ConfigEditor& editor);

// Sends the configuration-change message ("010") on `queue`: 1, or -1 when it cannot be sent.
int SendConfigChngMsg(int queue);

// The files' record and schedule as this screen compares them: the vorn.ini image of what
// InitConfig and ReadConfig give. Empty when the files cannot be read.
std::string ConfigFingerprint();
