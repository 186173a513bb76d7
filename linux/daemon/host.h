#pragma once

#include <string>

// The host's node name, read once at start; user warnings carry it in square brackets.
void SetHostName();
const std::string& HostName();
