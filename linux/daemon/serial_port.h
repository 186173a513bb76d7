// The UPS's serial line: port set-up, sending a command and reading one reply.
#pragma once

#include <string>
#include <string_view>

#include "q1_protocol.h"

// Replies are at most this many characters, carriage return included; one more is an overflow.
inline constexpr std::size_t kReplyMax = q1::kReplyMax;

// A result besides 1 and -1: the line itself is gone (a write error, a hang-up, a device that
// was unplugged). Waiting on it only spins; the caller closes the port and reconnects.
inline constexpr int kLinkLost = -2;

// Opens `path` read/write, non-blocking, and sets 2400 baud 8N1 raw with no flow control. The
// descriptor, or -1 with nothing left open.
int A_UPSOpenPort(const char* path);

// A_UPSOpenPort, then one status query. The descriptor when the UPS answered; otherwise the old
// settings are restored, the port closed and -1 returned.
int A_UPSsureInit(const char* path);

// Reads one reply ending in a carriage return (kept) within a three-second window. 1 when it
// begins with "(" or "#"; -1 otherwise, with `reply` empty when nothing whole arrived in time or
// the line overflowed, or holding the rejected text; kLinkLost when the line hung up.
int fdread(int fd, std::string& reply);

// Drops whatever stale input waits, writes `command`, waits a second for the UPS to answer, then
// reads the reply with fdread. kLinkLost when the command cannot be written.
int GetUPSResponse(int fd, std::string_view command, std::string& reply);

// Writes a command that has no reply: the bytes written, or -1.
int SendUPSCommand(int fd, std::string_view command);
