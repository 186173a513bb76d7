// What the control socket's requests do to the simulated UPS. Each request is one line of
// blank-separated words; each answer is "ok", "ok <data>" or "error <reason>".
#pragma once

#include <string>
#include <string_view>

#include "reply_mode.h"
#include "ups_state.h"

namespace upssim {

class ControlRequests {
  public:
    ControlRequests(UpsState& ups, ReplyShaper& replies) : ups_(ups), replies_(replies) {}

    std::string answer(std::string_view request, TimePoint now);
    bool quit_requested() const { return quit_; }

  private:
    std::string set_field(std::string_view field, std::string_view value);
    std::string pending(TimePoint now) const;

    UpsState& ups_;
    ReplyShaper& replies_;
    bool quit_ = false;
};

}  // namespace upssim
