// The sub-commands of kelvora that open no screen: start and stop the daemon, and the four
// debug switches.
#pragma once

#include <string_view>

void StartDaemon();
void StopDaemon();
// Writes `word` ("debug" or "nodebug") to the switch file `name` and shows the box.
void SetDebugSwitch(std::string_view name, std::string_view word);
