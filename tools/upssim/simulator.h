// The simulator's single event loop: the serial line, the control socket, the timers.
#pragma once

#include "options.h"

namespace upssim {

// Runs until SIGINT, SIGTERM, SIGHUP or a "quit" request; 0 on a clean end, 1 when it
// could not start.
int run_simulator(const Options& options);

}  // namespace upssim
