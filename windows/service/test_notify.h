// `Torvane --test-notify`: every configured notification channel is tried once, now, so that an
// administrator sees that the mail, the page and the webhooks arrive before a power failure
// needs them. It reads the agent's records and settings and needs neither the agent's lock nor
// its ports, so a running agent goes on undisturbed.
#pragma once

#include <cstdio>

namespace torvane {

// Tries the channels and prints one line per attempt and a summary to `out`. 0 when every
// attempt succeeded; 1 when one failed or no channel is configured.
int TestNotifications(std::FILE* out);

}  // namespace torvane
