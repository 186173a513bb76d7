// The simulator's command line.
#pragma once

#include <string>

namespace upssim {

enum class Dialect { q1, sec };

struct Options {
    std::string link;
    std::string control;
    std::string log;
    std::string control_log;  // what the control socket did to the UPS, as `log` records
    std::string state_file;
    double time_scale = 1.0;
    Dialect dialect = Dialect::q1;
};

inline constexpr const char* kUsage =
    "usage: upssim --link PATH [--control SOCKPATH] [--log FILE] [--control-log FILE]\n"
    "              [--state-file FILE] [--time-scale X] [--dialect q1|sec]\n"
    "       upssim ctl SOCKPATH WORDS...\n";

// Fills `options` from argv[1..]; false with `error` set when the line is not usable.
bool parse_options(int argc, char** argv, Options& options, std::string& error);

}  // namespace upssim
