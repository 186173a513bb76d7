#pragma once

// The event log, vornlog under the root. True when it can be opened for appending.
bool CheckLogFile();
