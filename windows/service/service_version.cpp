// The name the agent gives itself in traces and on the link.
#include "service_version.h"
