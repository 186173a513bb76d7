#pragma once

// The daemon's five queue ids.
struct DaemonQueues {
    int status = -1;
    int heartbeat = -1;
    int control = -1;
    int redraw = -1;
    int command = -1;
};
