// The UPS's serial line: port set-up, sending a command and reading one reply.
#pragma once

#include <string>
#include <string_view>

// Replies are at most 47 characters, carriage return included; a 48th is an overflow.
inline constexpr std::size_t kReplyMax = 47;

// Opens `path` read/write, non-blocking, sets 2400 baud 8N1 raw, and asks for one status reply.
// The descriptor when the UPS answered; otherwise the old settings are restored, the port
// closed and -1 returned.
int A_UPSsureInit(const char* path);

// Reads one reply ending in a carriage return (kept) within a three-second window. 1 when it
// begins with "(" or "#"; -1 otherwise, with `reply` empty when nothing whole arrived in time or
// the line overflowed, or holding the rejected text.
int fdread(int fd, std::string& reply);

// Writes `command`, waits a second for the UPS to answer, then reads the reply with fdread.
int GetUPSResponse(int fd, std::string_view command, std::string& reply);

// Writes a command that has no reply: the bytes written, or -1.
int SendUPSCommand(int fd, std::string_view command);
