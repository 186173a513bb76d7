// The Q1 serial dialect: which command lines the UPS answers or obeys, as a table.
#pragma once

#include <string>
#include <string_view>

#include "ups_state.h"

namespace upssim {

struct Outcome {
    enum class Kind { query, obeyed, ignored };
    Kind kind = Kind::ignored;
    std::string reply;  // queries only, carriage return included
};

// `command` is one line from the client without its carriage return and line feeds.
Outcome handle_command(std::string_view command, UpsState& ups, TimePoint now);

}  // namespace upssim
