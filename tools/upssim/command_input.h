// Splits the bytes a client sends into command lines ended by a carriage return.
//
// A real UPS has a small input buffer and so do we: a line that grows past kMaxLine bytes
// without a carriage return is thrown away, up to and including its carriage return.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace upssim {

class CommandInput {
  public:
    static constexpr std::size_t kMaxLine = 64;

    // Complete lines in `bytes`, each exactly as received (carriage return included).
    std::vector<std::string> feed(std::string_view bytes);
    // How many over-long lines have been thrown away so far.
    std::size_t dropped() const { return dropped_; }

  private:
    std::string partial_;
    bool dropping_ = false;
    std::size_t dropped_ = 0;
};

// The command a line carries: line feeds are not part of the dialect and the CR ends it.
std::string command_text(std::string_view line);

}  // namespace upssim
