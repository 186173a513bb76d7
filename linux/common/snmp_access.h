// Reading and setting objects of a UPS's SNMP version 1 agent: one session per process, opened
// by UPS_init with the settings UPS_load gave, used by the daemon and by the console screens.
// Single-threaded, blocking: a silent agent costs the library's time-out (1 s, 5 retries).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Keeps the agent address and community (each cut to 31 characters) for the next UPS_init.
void upsconf_load(std::string_view agent_ip, std::string_view community);

// Opens a session to the stored agent, closing the one before, and asks for the line voltage:
// 1 when the agent answers, -1 otherwise (the session is then closed again).
int UPS_init();

// Reads one object into `out`: 0, or -1 with `out` unchanged when there is no session, no
// answer, an error, or a value of a type the object's row refuses. An address beginning with
// "127" counts as no agent at all: nothing is asked, so a default configuration never reaches
// whatever agent this machine runs.
int UPS_getvalue(std::string& out, std::string_view oid);

// Sets one object to INTEGER `value`. `result`: 1 answered, 2 answered with an error, 0 no
// answer (or no agent: the "127" rule holds for sets too). Returns `result`.
int UPS_setvalue(std::string_view oid, long value, int& result);

// Opens a session without asking anything: for commands that must go out even when the agent
// was silent a moment ago. 1 when a session is open afterwards.
int UPS_open();

void UPS_close();
bool UPS_is_open();

// Where the access layer's own messages go (standard output unless said); nullptr silences
// them, as a curses screen must. Also silences the library's log.
void UPS_report_to(std::FILE* stream);
