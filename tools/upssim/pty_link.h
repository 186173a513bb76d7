// The UPS end of the serial line: a pseudo-terminal in raw mode, published as a symlink.
#pragma once

#include <string>
#include <string_view>

#include "unique_fd.h"

namespace upssim {

class PtyLink {
  public:
    PtyLink() = default;
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;
    // Removes the symlink, but only while it still names our terminal.
    ~PtyLink();

    // Opens the terminal and points `link_path` at it. An existing symlink is replaced; any
    // other file there is left alone and reported, since it may be somebody's data.
    bool open(const std::string& link_path, std::string& error);

    int master() const { return master_.get(); }
    const std::string& slave_path() const { return slave_path_; }

    // Reads what the client sent; empty when nothing is waiting.
    std::string read_available();
    // Sends `bytes` without ever blocking: whatever the terminal cannot take is dropped,
    // as a UPS does not hold replies for a client that stopped reading.
    void send(std::string_view bytes);

  private:
    UniqueFd master_;
    // Held open so the master never sees a hang-up while the client closes and reopens.
    UniqueFd slave_;
    std::string slave_path_;
    std::string link_path_;
    bool linked_ = false;
};

}  // namespace upssim
