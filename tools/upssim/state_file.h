// The whole UPS state as a small JSON object in a file, for readers outside the process
// (the SNMP agent's backend). Replaced atomically, so a reader never sees half of it.
#pragma once

#include <string>

#include "reply_mode.h"
#include "ups_state.h"

namespace upssim {

std::string render_state_json(const UpsState& ups, ReplyMode mode);

class StateFile {
  public:
    StateFile() = default;  // writes nothing
    explicit StateFile(std::string path) : path_(std::move(path)) {}

    // Rewrites the file when the state differs from what it holds; false on a write error
    // (reported once, retried on the next call).
    bool update(const UpsState& ups, ReplyMode mode);

  private:
    std::string path_;
    std::string written_;
    bool failing_ = false;
};

}  // namespace upssim
