// What the control socket's requests do to the simulated UPS. Each request is one line of
// blank-separated words; each answer is "ok", "ok <data>" or "error <reason>".
//
// The world around the UPS:   utility fail|ok, battery low|ok, ups failed|ok, boost on|off,
//                             beeper on|off, set FIELD VALUE, reply MODE
// Commands the UPS obeys, as  test on|off            open-ended test (on battery) / end it
// an agent in front of it     selftest SECONDS|low   a timed test / one until battery low
// would pass them on:         shutdown DELAY [RESTART]  output off after DELAY UPS seconds,
//                                                    back RESTART seconds after it went off
//                                                    (0 or none: when the utility returns)
// Queries:                    status, output, pending
// And quit.
//
// Every accepted request but the queries is written to the control record, so a test can
// tell what reached the UPS by the socket apart from what came over the serial line.
#pragma once

#include <string>
#include <string_view>

#include "command_log.h"
#include "reply_mode.h"
#include "ups_state.h"

namespace upssim {

class ControlRequests {
  public:
    ControlRequests(UpsState& ups, ReplyShaper& replies, CommandLog& record)
        : ups_(ups), replies_(replies), record_(record) {}

    std::string answer(std::string_view request, TimePoint now);
    bool quit_requested() const { return quit_; }

  private:
    std::string handle(std::string_view request, TimePoint now);
    std::string shutdown(std::string_view words, TimePoint now);
    std::string selftest(std::string_view words, TimePoint now);
    std::string set_field(std::string_view field, std::string_view value);
    std::string pending(TimePoint now) const;

    UpsState& ups_;
    ReplyShaper& replies_;
    CommandLog& record_;
    bool quit_ = false;
};

}  // namespace upssim
