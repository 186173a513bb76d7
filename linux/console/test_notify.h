// `kelvora test-notify`: starts the e-mail and pager scripts the daemon starts on a power
// event, with the test code, and says for each whether it worked. The daemon is not involved.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

// The event code of a test notice: the daemon's events are "1" to "4".
inline constexpr std::string_view kTestCode = "0";
// A script still running after this is killed, with whatever it started.
inline constexpr std::chrono::seconds kChannelLimit{60};

struct ChannelResult {
    enum Kind { kSent, kNotConfigured, kExitStatus, kSignal, kTimedOut, kCannotRun } kind = kSent;
    int number = 0;  // the exit status, the signal or the errno of the failed start
};

// Runs `path` with the one argument `code` and waits for it at most `limit`. Its standard
// output goes to our standard error, so that ours holds only the report; its standard input
// is /dev/null. A path that is no executable regular file is not configured.
ChannelResult RunChannel(const std::string& path, std::string_view code,
                         std::chrono::milliseconds limit);

// "email: sent", "email: failed: exit status 3", "pager: not configured", ...
std::string ChannelLine(std::string_view name, const ChannelResult& result,
                        std::chrono::milliseconds limit);

// The sub-command: one line per channel; 0 when every configured channel worked (and at least
// one is configured), otherwise 1.
int vornii_test_notify();
