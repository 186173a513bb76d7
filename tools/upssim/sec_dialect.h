// The SEC serial dialect: the same simulated UPS as the Q1 dialect, asked one value group at a
// time ("^P003ST1") and set by length-prefixed settings ("^S006PSD120"), as a table.
#pragma once

#include <string>
#include <string_view>

#include "q1_dialect.h"
#include "ups_state.h"

namespace upssim {

class SecDialect {
  public:
    // `message` is one whole message from SecInput. Queries get a "^D" reply, settings "^1"
    // when taken and "^0" when refused; both count as queries, since both are answered.
    Outcome handle(std::string_view message, UpsState& ups, TimePoint now);

    // Settings that only a SEC unit has; kept so the control socket can show them.
    bool auto_restart() const { return auto_restart_; }
    int shutdown_type() const { return shutdown_type_; }

  private:
    bool auto_restart_ = false;
    int shutdown_type_ = 0;
};

// "^D" + the three-digit length + `fields`.
std::string sec_data(std::string_view fields);

}  // namespace upssim
