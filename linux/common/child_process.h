// Starting outside programs (the daemon, scripts, shell commands) and reaping them.
#pragma once

#include <chrono>
#include <string>
#include <vector>

// Starts the program `path` with the argument list `argv` (argv[0] included) as a child with
// default signal handling and no inherited signal mask; when it cannot be executed, the child
// prints `fail_text` on standard output and ends. The child's pid, or -1 when no child could be
// made. The caller does not wait; ReapChildren collects it.
int SpawnDetached(const std::string& path, const std::vector<std::string>& argv,
                  const std::string& fail_text);

// Runs `command` through /bin/sh and waits for it, at most `limit` (zero: no limit). A command
// still running then is killed with its whole process group. Its exit status, or -1.
int RunShell(const std::string& command, std::chrono::seconds limit);

// Collects every child that has ended, so that none lingers as a zombie.
void ReapChildren();
