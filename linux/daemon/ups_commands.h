// The UPS command set on the serial line: three queries with replies and the commands that
// have none.
#pragma once

#include <string>

// "S" and the delay ("S.2", "S03"), then "R" and four digits of restart minutes unless
// `with_restart` is 0 or `restart` is -1, then "\r". Restarts beyond the four-digit field are
// sent as 9999, the longest the UPS can wait, never as a cut-off number.
std::string ShDnCmd(float delay, int restart, int with_restart);

// "TL\r" for 0 minutes (until battery low), "Tnn\r" for 1 to 99; empty for anything else.
std::string TestCmd(int minutes);

// The three queries: 1, -1, or kLinkLost when the line is gone (serial_port.h).
int A_GetUPSStatus(int fd, std::string& reply);  // "Q1\r": a whole 47-character status line
int A_GetUPSModel(int fd, std::string& reply);   // "I\r", also rewrites kelvora.mdl
int A_GetUPSRating(int fd, std::string& reply);  // "F\r", also rewrites kelvora.rtg
int A_UPSSelfTest(int fd);
int A_UPSTest(int fd, int minutes);
int A_CancelUPSTest(int fd);
int A_CancelShutdown(int fd);
int A_ShutdownUPS(int fd, float delay, int restart, int with_restart);
