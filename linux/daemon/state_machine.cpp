#include "state_machine.h"

// The power-event states (AC failure, battery low, scheduled shutdown, countdown) are not
// tracked yet: the daemon polls and publishes the UPS status only.
void StateTransition(std::string& /*reply*/, const UpsConfig& /*config*/, int64_t /*next_shutdown*/,
                     int32_t /*restart_minutes*/, const std::string& /*shutdown_cmd*/,
                     int /*ups_handle*/, const DaemonQueues& /*queues*/) {}
