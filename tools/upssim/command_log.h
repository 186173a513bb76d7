// The record of every command line the UPS received, one line each, for tests to read back:
//   <seconds since the epoch, three decimals>\t<the line, escaped>\n
// The serial line and the control socket each have a record of their own.
#pragma once

#include <string>
#include <string_view>

#include "unique_fd.h"

namespace upssim {

// CR as \r, LF as \n, backslash as \\, any other byte outside 0x20..0x7e as \xNN.
std::string escape_bytes(std::string_view bytes);

class CommandLog {
  public:
    CommandLog() = default;  // logs nothing
    // Opens `path` for appending (created when missing); false with `error` set on failure.
    bool open(const std::string& path, std::string& error);
    // Writes one record with a single write, so a reader never sees half a line.
    void append(std::string_view line);

  private:
    UniqueFd fd_;
};

}  // namespace upssim
