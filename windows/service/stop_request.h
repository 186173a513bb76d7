// How the agent in program mode learns that it is to stop: SIGTERM or SIGINT on POSIX (a hang-up
// is no reason to stop protecting), Ctrl-C, Ctrl-Break, the console closing, a log-off or the
// system shutting down on Windows.
#pragma once

#include "ups_lib/platform/events.h"

namespace torvane {

// First thing in main, before any thread starts: on POSIX the stop signals are blocked in every
// thread to come, so that only the one that waits for them sees them, a client that hangs up
// is a socket error and not our end, and there are descriptors for a thousand panels.
void PrepareProcess();

// Blocks until a stop is requested (program mode), or until `done` is set when one is given.
void WaitForStopRequest(platform::Event* done = nullptr);

}  // namespace torvane
