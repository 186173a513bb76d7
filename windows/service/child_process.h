// Starting the agent's outside programs (warning box, closing applications, shutting the
// system down) and the administrator's own program, without a shell.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// An outside program by its name ("Tessvar"): in the program directory, else beside the running
// executable. Empty when it is in neither.
std::filesystem::path FindOutsideProgram(std::string_view name);

// Starts argv[0] (a path, or a name looked up in PATH) with `argv`; the process id, or nothing
// when it could not be started.
std::optional<int> StartProcess(const std::vector<std::string>& argv);
// The same for a program that shows something to the person at the machine (the warning box,
// the closing of applications). On Windows an agent running as a service starts it on the
// desktop of the user at the console, as that user; everything else runs where the agent does.
std::optional<int> StartOnDesktop(const std::vector<std::string>& argv);
// Waits for a started process: its exit status, 128 + n after signal n.
int WaitProcess(int pid);
// Whether a started process has ended; one that has is reaped.
bool ProcessEnded(int pid);
// Asks a started process to end (and reaps it).
void StopProcess(int pid);
// Waits until a started process has ended but leaves it to be reaped by WaitProcess, so that
// its id cannot pass to another process while someone may still signal it.
void AwaitExit(int pid);
// Asks a started process that has not been reaped yet to end (or, with `force`, ends it),
// without waiting.
void SignalStop(int pid, bool force = false);

// Splits a command line at blanks and tabs (no quoting: a command that needs it belongs in a
// script). Empty words are dropped.
std::vector<std::string> SplitWords(std::string_view line);

}  // namespace torvane
