// One step of the power-event state machine, taken after every successful poll.
#pragma once

#include <cstdint>
#include <string>

#include "config.h"
#include "daemon_queues.h"

void StateTransition(std::string& reply, const UpsConfig& config, int64_t next_shutdown,
                     int32_t restart_minutes, const std::string& shutdown_cmd, int ups_handle,
                     const DaemonQueues& queues);
