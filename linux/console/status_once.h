// `kelvora status --once` and `kelvora status --json`: the local UPS's status printed once, for
// scripts and monitoring tools, with an exit status that says whether it can be trusted.
#pragma once

#include <cstdint>
#include <string>

#include "status_report.h"

// Exit statuses (2 is the usage error of the command line).
inline constexpr int kOnceOk = 0;         // the daemon runs and the reading is fresh
inline constexpr int kOnceNoDaemon = 3;   // no daemon runs in this root
inline constexpr int kOnceNoReading = 4;  // no status file, or no reading in it / from the agent
inline constexpr int kOnceStale = 5;      // the daemon runs but has not written for too long

// A reading older than this is stale: the daemon rewrites the status file every poll, about
// once a second, and a few seconds more while it retries a silent UPS.
inline constexpr int64_t kStaleSeconds = 30;

struct OnceResult {
    StatusReport report;
    int status = kOnceOk;
    std::string problem;  // for standard error; empty when the status is kOnceOk
};

// Reads the configuration, the daemon's state and the status files (or, in SNMP mode, the
// agent) of the root at calendar time `now`.
OnceResult StatusOnce(int64_t now);

// The exit status and the problem's text for what was found. `file_found`: the status file
// could be read (serial mode).
void JudgeOnce(OnceResult& result, bool file_found, const std::string& where);

// The sub-command: prints the report as text or JSON on standard output, the problem on
// standard error, and returns the exit status.
int vornii_status_once(bool json);
